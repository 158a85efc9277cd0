// libpng reports errors by longjmp: the frames it may cross (the Read*
// functions below) hold no C++ object, and everything that needs cleaning up
// lives in the caller's frame.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "io/Builder.h"
#include "io/Exif.h"
#include "io/Formats.h"

namespace gm::io {

namespace {

constexpr png_byte kExif[] = "eXIf";
constexpr png_alloc_size_t kChunkLimit = 16 << 20;  // text and profile chunks; pixels are checked apart

struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[256] = {};
  char warning[128] = {};  // libpng explains some errors only in a warning just before
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int channels = 0;
  int passes = 1;
  int orientation = 1;
  bool cancelled = false;
};

void OnPngError(png_structp png, png_const_charp text) {
  auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
  if (read->warning[0]) {
    std::snprintf(read->message, sizeof read->message, "%s (%s)", text, read->warning);
  } else {
    std::snprintf(read->message, sizeof read->message, "%s", text);
  }
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp png, png_const_charp text) {
  auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
  std::snprintf(read->warning, sizeof read->warning, "%s", text);
}

void ReadFromSource(png_structp png, png_bytep data, size_t length) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (source->Read(data, length) != length) png_error(png, "Read Error");
}

bool ReadHeader(PngRead& r, Source* source) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_set_read_fn(r.png, source, ReadFromSource);
  // Our own checks give the reasons; libpng's defaults would stop at 1,000,000.
  png_set_user_limits(r.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(r.png, kChunkLimit);
  png_set_chunk_cache_max(r.png, 1000);
  // libpng only warns about an ancillary chunk over the limit, then allocates
  // whatever the chunk claims: skip every ancillary chunk the tool does not
  // use (tRNS is kept), and take eXIf as raw bytes, which the limit does bound.
  png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_ALWAYS, kExif, 1);
  png_read_info(r.png, r.info);

  const int depth = png_get_bit_depth(r.png, r.info);
  const int colour = png_get_color_type(r.png, r.info);
  if (depth == 16) png_set_scale_16(r.png);
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
  if (png_get_valid(r.png, r.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(r.png);
  if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(r.png);
  r.passes = png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  r.width = png_get_image_width(r.png, r.info);
  r.height = png_get_image_height(r.png, r.info);
  r.channels = png_get_channels(r.png, r.info);
  // eXIf belongs before the pixels, where the orientation is known in time
  // to scale along the right axis; one after them is not looked for.
  png_unknown_chunkp chunks = nullptr;
  const int count = png_get_unknown_chunks(r.png, r.info, &chunks);
  for (int i = 0; i < count && r.orientation == 1; ++i) {
    if (std::memcmp(chunks[i].name, kExif, 4) == 0) {
      r.orientation = ExifOrientation(std::span<const uint8_t>(chunks[i].data, chunks[i].size));
    }
  }
  return true;
}

bool ReadRows(PngRead& r, ImageBuilder& image, const CancelCheck* cancel) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  for (int pass = 0; pass < r.passes; ++pass) {
    for (png_uint_32 y = 0; y < r.height; ++y) {
      png_read_row(r.png, image.Rows(y, y + 1), nullptr);
      image.Done(y + 1);
      if ((y & 63) == 0 && *cancel && (*cancel)()) {
        r.cancelled = true;
        return false;
      }
    }
  }
  png_read_end(r.png, nullptr);
  return true;
}

bool Sniff(std::span<const uint8_t> head) {
  static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return head.size() >= sizeof kSignature && std::memcmp(head.data(), kSignature, sizeof kSignature) == 0;
}

Image DecodePng(Source& source, const DecodeRequest& request) {
  const std::string& path = source.Name();
  const DecodeLimits& limits = request.limits;
  PngRead r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, OnPngError, OnPngWarning);
  if (!r.png) throw std::bad_alloc();
  r.info = png_create_info_struct(r.png);
  struct Cleanup {
    PngRead& r;
    ~Cleanup() { png_destroy_read_struct(&r.png, r.info ? &r.info : nullptr, nullptr); }
  } cleanup{r};
  if (!r.info) throw std::bad_alloc();

  if (!ReadHeader(r, &source)) {
    source.Check();
    throw Error(path, std::string("not a valid PNG file: ") + r.message);
  }
  CheckDimensions(path, r.width, r.height, r.channels, DecodeLimits{limits.maxDimension, UINT64_MAX});
  if (r.channels != 3 && r.channels != 4) throw Error(path, "unsupported PNG colour layout");

  // An interlaced image completes its rows only in the last pass.
  ImageBuilder image(path, r.width, r.height, r.channels, request.scale.Resolve(r.width, r.height, r.orientation),
                     r.passes == 1, limits);
  if (!ReadRows(r, image, &request.cancel)) {
    if (r.cancelled) throw Cancelled(path);
    source.Check();
    throw Error(path, std::string("corrupt or truncated PNG file: ") + r.message);
  }
  Image decoded = image.Finish();
  decoded.orientation = r.orientation;
  return decoded;
}


struct PngWrite {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[256] = {};
  bool cancelled = false;
};

void OnPngWriteError(png_structp png, png_const_charp text) {
  auto* write = static_cast<PngWrite*>(png_get_error_ptr(png));
  std::snprintf(write->message, sizeof write->message, "%s", text);
  png_longjmp(png, 1);
}

void OnPngWriteWarning(png_structp, png_const_charp) {}

void WriteToFd(png_structp png, png_bytep data, size_t length) {
  auto* writer = static_cast<FdWriter*>(png_get_io_ptr(png));
  if (!writer->Write(data, length)) png_error(png, std::strerror(writer->Errno()));
}

void FlushFd(png_structp png) {
  auto* writer = static_cast<FdWriter*>(png_get_io_ptr(png));
  if (!writer->Flush()) png_error(png, std::strerror(writer->Errno()));
}

// `spare` holds one converted row when the image is written as greyscale.
bool WriteRows(PngWrite& w, FdWriter* writer, const Image* image, bool grey, uint8_t* spare,
               const CancelCheck* cancel) {
  if (setjmp(png_jmpbuf(w.png))) return false;
  const bool alpha = image->channels == 4;
  const int type = grey ? (alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                        : (alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  png_set_write_fn(w.png, writer, WriteToFd, FlushFd);
  png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height), 8,
               type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Text art is long runs of a few levels: run-length deflate after the Up
  // filter packs it nearly as well as the slow settings, many times faster.
  // Photographs (a --rect leaves most of one as it was) get the Paeth filter too.
  png_set_compression_level(w.png, 1);
  png_set_compression_strategy(w.png, grey ? Z_RLE : Z_DEFAULT_STRATEGY);
  png_set_filter(w.png, PNG_FILTER_TYPE_BASE, grey ? PNG_FILTER_UP : (PNG_FILTER_UP | PNG_FILTER_PAETH));
  png_write_info(w.png, w.info);
  const size_t step = static_cast<size_t>(image->channels);
  for (int32_t y = 0; y < image->height; ++y) {
    const uint8_t* row = image->pixels.data() + static_cast<size_t>(y) * image->RowBytes();
    if (grey) {
      uint8_t* out = spare;
      const uint8_t* end = row + image->RowBytes();
      for (const uint8_t* p = row; p != end; p += step) {
        *out++ = p[0];
        if (alpha) *out++ = p[3];
      }
      png_write_row(w.png, spare);
    } else {
      png_write_row(w.png, row);
    }
    if ((y & 63) == 0 && *cancel && (*cancel)()) {
      w.cancelled = true;
      return false;
    }
  }
  png_write_end(w.png, nullptr);
  FlushFd(w.png);
  return true;
}

void EncodePng(const Image& image, bool grey, int fd, const std::string& path, const EncodeRequest& request) {
  PngWrite w;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, OnPngWriteError, OnPngWriteWarning);
  if (!w.png) throw std::bad_alloc();
  w.info = png_create_info_struct(w.png);
  struct Cleanup {
    PngWrite& w;
    ~Cleanup() { png_destroy_write_struct(&w.png, w.info ? &w.info : nullptr); }
  } cleanup{w};
  if (!w.info) throw std::bad_alloc();
  std::vector<uint8_t> spare(grey ? static_cast<size_t>(image.width) * (image.channels == 4 ? 2 : 1) : 0);
  FdWriter writer(fd);
  if (!WriteRows(w, &writer, &image, grey, spare.data(), &request.cancel)) {
    if (w.cancelled) throw Cancelled(path);
    throw Error(path, std::string("cannot write the PNG file: ") + w.message);
  }
}

}  // namespace

extern const Codec kPngCodec{"PNG", "png", {"png"}, true, Sniff, DecodePng, EncodePng};

}  // namespace gm::io
