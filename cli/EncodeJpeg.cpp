// libjpeg reports errors by longjmp: the frames it may cross (Create and
// WriteRows) hold no C++ object, and what needs cleaning up lives in the caller's.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <csetjmp>
#include <vector>

#include "cli/Codec.h"

namespace gm::cli {

namespace {

struct JpegWrite {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
  bool cancelled = false;
};

void OnError(j_common_ptr cinfo) {
  auto* w = reinterpret_cast<JpegWrite*>(cinfo->client_data);
  cinfo->err->format_message(cinfo, w->message);
  std::longjmp(w->jump, 1);
}

bool Create(JpegWrite& w) {
  if (setjmp(w.jump)) return false;
  jpeg_create_compress(&w.cinfo);
  return true;
}

bool WriteRows(JpegWrite& w, std::FILE* file, const Image* image, bool grey, int quality, uint8_t* spare,
               const CancelCheck* cancel) {
  if (setjmp(w.jump)) return false;
  jpeg_stdio_dest(&w.cinfo, file);
  w.cinfo.image_width = static_cast<JDIMENSION>(image->width);
  w.cinfo.image_height = static_cast<JDIMENSION>(image->height);
  w.cinfo.input_components = grey ? 1 : 3;
  w.cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&w.cinfo);
  jpeg_set_quality(&w.cinfo, quality, TRUE);
  jpeg_start_compress(&w.cinfo, TRUE);
  const size_t step = static_cast<size_t>(image->channels);
  while (w.cinfo.next_scanline < w.cinfo.image_height) {
    const JDIMENSION y = w.cinfo.next_scanline;
    const uint8_t* row = image->pixels.data() + static_cast<size_t>(y) * image->RowBytes();
    uint8_t* out = spare;
    for (int32_t x = 0; x < image->width; ++x, row += step) {
      *out++ = row[0];
      if (!grey) {
        *out++ = row[1];
        *out++ = row[2];
      }
    }
    JSAMPROW target = spare;
    jpeg_write_scanlines(&w.cinfo, &target, 1);
    if ((y & 63) == 0 && *cancel && (*cancel)()) {
      w.cancelled = true;
      return false;
    }
  }
  jpeg_finish_compress(&w.cinfo);
  return true;
}

}  // namespace

void EncodeJpeg(const Image& image, bool grey, std::FILE* file, const std::string& path, int quality,
                const CancelCheck& cancel) {
  if (image.channels == 4) throw Failure(kExitOutput, path, "JPEG cannot keep the image's alpha channel");
  JpegWrite w{};
  w.cinfo.err = jpeg_std_error(&w.err);
  w.err.error_exit = OnError;
  w.cinfo.client_data = &w;
  const bool created = Create(w);
  struct Cleanup {
    jpeg_compress_struct& cinfo;
    ~Cleanup() { jpeg_destroy_compress(&cinfo); }
  } cleanup{w.cinfo};
  if (!created) throw Failure(kExitOutput, path, std::string("cannot start the JPEG encoder: ") + w.message);
  std::vector<uint8_t> spare(static_cast<size_t>(image.width) * 3);
  if (!WriteRows(w, file, &image, grey, quality, spare.data(), &cancel)) {
    if (w.cancelled) throw Failure(kExitCancelled, path, "cancelled");
    throw Failure(kExitOutput, path, std::string("cannot write the JPEG file: ") + w.message);
  }
}

}  // namespace gm::cli
