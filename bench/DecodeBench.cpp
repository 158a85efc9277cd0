// The codec side of the benchmarks: what the libraries alone take, for the
// tool to be measured against, and the large test files they decode.
//   decode_bench decode-png FILE           decode to RGB with libpng's simplified API, nothing else
//   decode_bench write-png FILE WxH        the sample photo mirrored tile by tile to that size
//   decode_bench write-jpeg FILE WxH [Q]   the same as a baseline JPEG (quality Q, default 90)
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "decode_bench: %s\n", what.c_str());
  return 1;
}

int DecodePng(const char* path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return Fail(std::string(path) + ": " + image.message);
  image.format = PNG_FORMAT_RGB;
  // Not zero-filled: the decoder writes every byte.
  const auto rgb = std::make_unique_for_overwrite<uint8_t[]>(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.get(), 0, nullptr)) {
    return Fail(std::string(path) + ": " + image.message);
  }
  return 0;
}

// Rows of the sample photo, mirrored at every edge so that any size keeps a
// photo's mix of edges, texture and flat areas.
class Mirrored {
 public:
  explicit Mirrored(uint32_t width) : width_(width), row_(size_t{width} * 3) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    const std::string path = std::string(GM_SAMPLES_DIR) + "/coffee.png";
    if (png_image_begin_read_from_file(&image, path.c_str())) {
      image.format = PNG_FORMAT_RGB;
      photo_.resize(PNG_IMAGE_SIZE(image));
      if (png_image_finish_read(&image, nullptr, photo_.data(), 0, nullptr)) {
        w_ = image.width;
        h_ = image.height;
      }
    }
  }
  bool Ok() const { return w_ > 0; }
  const uint8_t* Row(uint32_t y) {
    const uint32_t ty = (y / h_) % 2 ? h_ - 1 - y % h_ : y % h_;
    for (uint32_t x = 0; x < width_; ++x) {
      const uint32_t tx = (x / w_) % 2 ? w_ - 1 - x % w_ : x % w_;
      std::memcpy(&row_[size_t{x} * 3], &photo_[(size_t{ty} * w_ + tx) * 3], 3);
    }
    return row_.data();
  }

 private:
  uint32_t width_, w_ = 0, h_ = 0;
  std::vector<uint8_t> photo_, row_;
};

int WritePng(const char* path, uint32_t width, uint32_t height) {
  Mirrored photo(width);
  if (!photo.Ok()) return Fail("cannot read the sample photo");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "wb"), &std::fclose);
  if (!file) return Fail(std::string("cannot write ") + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) return Fail(std::string("cannot write ") + path);
  png_init_io(png, file.get());
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, photo.Row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int WriteJpeg(const char* path, uint32_t width, uint32_t height, int quality) {
  Mirrored photo(width);
  if (!photo.Ok()) return Fail("cannot read the sample photo");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "wb"), &std::fclose);
  if (!file) return Fail(std::string("cannot write ") + path);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file.get());
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < height) {
    JSAMPROW row = const_cast<uint8_t*>(photo.Row(cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 0;
}

bool ParseSize(const char* text, uint32_t& width, uint32_t& height) {
  return std::sscanf(text, "%ux%u", &width, &height) == 2 && width > 0 && height > 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  uint32_t width = 0, height = 0;
  if (command == "decode-png" && argc == 3) return DecodePng(argv[2]);
  if (command == "write-png" && argc == 4 && ParseSize(argv[3], width, height)) return WritePng(argv[2], width, height);
  if (command == "write-jpeg" && (argc == 4 || argc == 5) && ParseSize(argv[3], width, height)) {
    return WriteJpeg(argv[2], width, height, argc == 5 ? std::atoi(argv[4]) : 90);
  }
  return Fail("usage: decode_bench decode-png FILE | write-png FILE WxH | write-jpeg FILE WxH [QUALITY]");
}
