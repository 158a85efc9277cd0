// libpng reports errors by longjmp: the frame it may cross (WriteRows) holds
// no C++ object, and everything that needs cleaning up lives in the caller's.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <vector>

#include "cli/Codec.h"

namespace gm::cli {

namespace {

struct PngWrite {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[256] = {};
  bool cancelled = false;
};

void OnPngError(png_structp png, png_const_charp text) {
  auto* write = static_cast<PngWrite*>(png_get_error_ptr(png));
  std::snprintf(write->message, sizeof write->message, "%s", text);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// `spare` holds one converted row when the image is written as greyscale.
bool WriteRows(PngWrite& w, std::FILE* file, const Image* image, bool grey, uint8_t* spare,
               const CancelCheck* cancel) {
  if (setjmp(png_jmpbuf(w.png))) return false;
  const bool alpha = image->channels == 4;
  const int type = grey ? (alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                        : (alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  png_init_io(w.png, file);
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
  return true;
}

}  // namespace

void EncodePng(const Image& image, bool grey, std::FILE* file, const std::string& path, const CancelCheck& cancel) {
  PngWrite w;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, OnPngError, OnPngWarning);
  if (!w.png) throw Failure(kExitOutput, path, "out of memory");
  w.info = png_create_info_struct(w.png);
  struct Cleanup {
    PngWrite& w;
    ~Cleanup() { png_destroy_write_struct(&w.png, w.info ? &w.info : nullptr); }
  } cleanup{w};
  if (!w.info) throw Failure(kExitOutput, path, "out of memory");
  std::vector<uint8_t> spare(grey ? static_cast<size_t>(image.width) * (image.channels == 4 ? 2 : 1) : 0);
  if (!WriteRows(w, file, &image, grey, spare.data(), &cancel)) {
    if (w.cancelled) throw Failure(kExitCancelled, path, "cancelled");
    throw Failure(kExitOutput, path, std::string("cannot write the PNG file: ") + w.message);
  }
}

}  // namespace gm::cli
