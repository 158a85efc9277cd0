// libpng reports errors by longjmp: the frames it may cross (the Read*
// functions below) hold no C++ object, and everything that needs cleaning up
// lives in the caller's frame.
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cli/Codec.h"
#include "cli/Exif.h"

namespace gm::cli {

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

bool ReadHeader(PngRead& r, std::FILE* file) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_init_io(r.png, file);
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

}  // namespace

Image DecodePng(std::FILE* file, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                const ScaleRequest& scale) {
  PngRead r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, OnPngError, OnPngWarning);
  if (!r.png) throw Failure(kExitInput, path, "out of memory");
  r.info = png_create_info_struct(r.png);
  struct Cleanup {
    PngRead& r;
    ~Cleanup() { png_destroy_read_struct(&r.png, r.info ? &r.info : nullptr, nullptr); }
  } cleanup{r};
  if (!r.info) throw Failure(kExitInput, path, "out of memory");

  if (!ReadHeader(r, file)) throw Failure(kExitInput, path, std::string("not a valid PNG file: ") + r.message);
  CheckDimensions(path, r.width, r.height, r.channels, DecodeLimits{limits.maxDimension, UINT64_MAX});
  if (r.channels != 3 && r.channels != 4) throw Failure(kExitInput, path, "unsupported PNG colour layout");

  // An interlaced image completes its rows only in the last pass.
  ImageBuilder image(path, r.width, r.height, r.channels, scale.Resolve(r.width, r.height, r.orientation),
                     r.passes == 1, limits);
  if (!ReadRows(r, image, &cancel)) {
    if (r.cancelled) throw Failure(kExitCancelled, path, "cancelled");
    throw Failure(kExitInput, path, std::string("corrupt or truncated PNG file: ") + r.message);
  }
  Image decoded = image.Finish();
  decoded.orientation = r.orientation;
  return decoded;
}

}  // namespace gm::cli
