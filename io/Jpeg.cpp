// libjpeg reports errors by longjmp: the frames it may cross (the Read*
// functions below) hold no C++ object, and everything that needs cleaning up
// lives in the caller's frame.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <optional>
#include <vector>

#include "io/Builder.h"
#include "io/Exif.h"
#include "io/Formats.h"

namespace gm::io {

namespace {

constexpr int kMaxScans = 1000;  // a progressive file with more is a denial-of-service trick

struct JpegRead {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  jpeg_progress_mgr progress;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
  bool cmyk = false;
  bool inverted = false;  // Adobe CMYK files store the complements
  bool cancelled = false;
};

JpegRead* Self(j_common_ptr cinfo) { return reinterpret_cast<JpegRead*>(cinfo->client_data); }

void OnError(j_common_ptr cinfo) {
  JpegRead* r = Self(cinfo);
  cinfo->err->format_message(cinfo, r->message);
  std::longjmp(r->jump, 1);
}

// Corrupt or missing data is only a warning to libjpeg, which then makes up
// grey pixels; a decoder for untrusted files must refuse it instead.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  switch (cinfo->err->msg_code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
      return;
    default:
      OnError(cinfo);
  }
}

void OnProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    std::snprintf(Self(cinfo)->message, JMSG_LENGTH_MAX, "more than %d progressive scans", kMaxScans);
    std::longjmp(Self(cinfo)->jump, 1);
  }
}

bool Create(JpegRead& r) {
  if (setjmp(r.jump)) return false;
  jpeg_create_decompress(&r.cinfo);
  return true;
}

// The library's own file source, reading from ours: at the end of the data
// it warns and inserts an end marker, and OnMessage makes that an error.
struct SourceManager {
  jpeg_source_mgr manager;
  Source* source;
  bool started;
  JOCTET buffer[4096];
};

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<SourceManager*>(cinfo->src)->started = false; }

boolean FillInput(j_decompress_ptr cinfo) {
  auto* m = reinterpret_cast<SourceManager*>(cinfo->src);
  size_t n = m->source->Read(m->buffer, sizeof m->buffer);
  if (n == 0) {
    if (!m->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    m->buffer[0] = 0xFF;
    m->buffer[1] = JPEG_EOI;
    n = 2;
  }
  m->manager.next_input_byte = m->buffer;
  m->manager.bytes_in_buffer = n;
  m->started = true;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* m = cinfo->src;
  while (count > static_cast<long>(m->bytes_in_buffer)) {
    count -= static_cast<long>(m->bytes_in_buffer);
    m->fill_input_buffer(cinfo);
  }
  if (count > 0) {
    m->next_input_byte += count;
    m->bytes_in_buffer -= static_cast<size_t>(count);
  }
}

void TermSource(j_decompress_ptr) {}

bool ReadHeader(JpegRead& r, SourceManager* source) {
  if (setjmp(r.jump)) return false;
  source->manager = {nullptr, 0, InitSource, FillInput, SkipInput, jpeg_resync_to_restart, TermSource};
  r.cinfo.src = &source->manager;
  jpeg_save_markers(&r.cinfo, JPEG_APP0 + 1, 0xFFFF);  // EXIF, for the orientation
  if (jpeg_read_header(&r.cinfo, TRUE) != JPEG_HEADER_OK) {
    std::snprintf(r.message, sizeof r.message, "no image in the file");
    return false;
  }
  switch (r.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      r.cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      r.cinfo.out_color_space = JCS_CMYK;
      r.cmyk = true;
      r.inverted = r.cinfo.saw_Adobe_marker;
      break;
    default:
      r.cinfo.out_color_space = JCS_RGB;
      break;
  }
  return true;
}

// Shrink on load: the library's DCT scaling, by n/8, at the smallest n whose
// output still covers the target in both directions; the area averager does
// the rest. Much of the decoding work goes with the pixels not made.
bool PickScale(JpegRead& r, Size target) {
  if (setjmp(r.jump)) return false;
  r.cinfo.scale_denom = 8;
  for (unsigned n = 1; n <= 8; ++n) {
    r.cinfo.scale_num = n;
    jpeg_calc_output_dimensions(&r.cinfo);
    if (r.cinfo.output_width >= static_cast<JDIMENSION>(target.width) &&
        r.cinfo.output_height >= static_cast<JDIMENSION>(target.height)) {
      break;
    }
  }
  return true;
}

bool Start(JpegRead& r) {
  if (setjmp(r.jump)) return false;
  jpeg_start_decompress(&r.cinfo);
  return true;
}

// Grey rows are read into the start of the destination row and spread out
// from the right; CMYK rows go through `spare`, one row of four samples.
bool ReadRows(JpegRead& r, ImageBuilder& image, uint8_t* spare, const CancelCheck* cancel) {
  if (setjmp(r.jump)) return false;
  const JDIMENSION width = r.cinfo.output_width;
  while (r.cinfo.output_scanline < r.cinfo.output_height) {
    const JDIMENSION y = r.cinfo.output_scanline;
    uint8_t* row = image.Rows(y, y + 1);
    JSAMPROW target = r.cmyk ? spare : row;
    jpeg_read_scanlines(&r.cinfo, &target, 1);
    if (r.cinfo.out_color_space == JCS_GRAYSCALE) {
      for (JDIMENSION x = width; x-- > 0;) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
    } else if (r.cmyk) {
      for (JDIMENSION x = 0; x < width; ++x) {
        const uint8_t* s = spare + 4 * x;
        // Without the Adobe marker the samples are plain ink amounts.
        const unsigned k = r.inverted ? s[3] : 255u - s[3];
        for (int c = 0; c < 3; ++c) {
          const unsigned v = r.inverted ? s[c] : 255u - s[c];
          row[3 * x + c] = static_cast<uint8_t>((v * k + 127) / 255);
        }
      }
    }
    image.Done(y + 1);
    if ((y & 63) == 0 && *cancel && (*cancel)()) {
      r.cancelled = true;
      return false;
    }
  }
  jpeg_finish_decompress(&r.cinfo);
  return true;
}

bool Sniff(std::span<const uint8_t> head) {
  return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

Image DecodeJpeg(Source& source, const DecodeRequest& request) {
  const std::string& path = source.Name();
  const DecodeLimits& limits = request.limits;
  JpegRead r{};
  r.cinfo.err = jpeg_std_error(&r.err);
  r.err.error_exit = OnError;
  r.err.emit_message = OnMessage;
  r.cinfo.client_data = &r;
  const bool created = Create(r);
  struct Cleanup {
    jpeg_decompress_struct& cinfo;
    ~Cleanup() { jpeg_destroy_decompress(&cinfo); }
  } cleanup{r.cinfo};
  if (!created) throw Error(path, std::string("cannot start the JPEG decoder: ") + r.message);

  SourceManager manager{};
  manager.source = &source;
  if (!ReadHeader(r, &manager)) {
    source.Check();
    throw Error(path, std::string("not a valid JPEG file: ") + r.message);
  }
  // The saved markers go when decoding finishes.
  int orientation = 1;
  for (auto* m = r.cinfo.marker_list; m && orientation == 1; m = m->next) {
    orientation = ExifOrientation(std::span<const uint8_t>(m->data, m->data_length));
  }
  const int channels = 3;
  CheckDimensions(path, r.cinfo.image_width, r.cinfo.image_height, channels,
                  DecodeLimits{limits.maxDimension, UINT64_MAX});
  const std::optional<Size> target = request.scale.Resolve(r.cinfo.image_width, r.cinfo.image_height, orientation);
  if (target && !PickScale(r, *target)) {
    throw Error(path, std::string("not a valid JPEG file: ") + r.message);
  }
  // Progressive files keep every coefficient until the end; this caps that
  // store, and with no backing store a file that needs more is refused.
  r.cinfo.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(limits.maxBytes, LONG_MAX));
  r.progress.progress_monitor = OnProgress;
  r.cinfo.progress = &r.progress;
  if (!Start(r)) {
    source.Check();
    throw Error(path, std::string("corrupt JPEG file: ") + r.message);
  }
  if (r.cinfo.output_components != (r.cmyk ? 4 : r.cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 3)) {
    throw Error(path, "unsupported JPEG colour layout");
  }

  ImageBuilder image(path, r.cinfo.output_width, r.cinfo.output_height, channels, target, true, limits);
  std::vector<uint8_t> spare(r.cmyk ? static_cast<size_t>(r.cinfo.output_width) * 4 : 0);
  if (!ReadRows(r, image, spare.data(), &request.cancel)) {
    if (r.cancelled) throw Cancelled(path);
    source.Check();
    throw Error(path, std::string("corrupt or truncated JPEG file: ") + r.message);
  }
  Image decoded = image.Finish();
  decoded.orientation = orientation;
  return decoded;
}


struct JpegWrite {
  jpeg_destination_mgr destination;
  int fd;
  JOCTET buffer[1 << 16];
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
  bool cancelled = false;
};

void OnWriteError(j_common_ptr cinfo) {
  auto* w = reinterpret_cast<JpegWrite*>(cinfo->client_data);
  cinfo->err->format_message(cinfo, w->message);
  std::longjmp(w->jump, 1);
}

void InitDestination(j_compress_ptr cinfo) {
  auto* w = reinterpret_cast<JpegWrite*>(cinfo->client_data);
  w->destination.next_output_byte = w->buffer;
  w->destination.free_in_buffer = sizeof w->buffer;
}

// A failed write ends the encoding with the system's reason.
void Emit(j_compress_ptr cinfo, size_t bytes) {
  auto* w = reinterpret_cast<JpegWrite*>(cinfo->client_data);
  if (const int error = WriteAll(w->fd, w->buffer, bytes)) {
    std::snprintf(w->message, sizeof w->message, "%s", std::strerror(error));
    std::longjmp(w->jump, 1);
  }
  InitDestination(cinfo);
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  Emit(cinfo, sizeof(JpegWrite::buffer));
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* w = reinterpret_cast<JpegWrite*>(cinfo->client_data);
  Emit(cinfo, sizeof w->buffer - w->destination.free_in_buffer);
}

bool CreateWriter(JpegWrite& w) {
  if (setjmp(w.jump)) return false;
  jpeg_create_compress(&w.cinfo);
  return true;
}

bool WriteRows(JpegWrite& w, const Image* image, bool grey, int quality, uint8_t* spare, const CancelCheck* cancel) {
  if (setjmp(w.jump)) return false;
  w.destination = {nullptr, 0, InitDestination, EmptyOutput, TermDestination};
  w.cinfo.dest = &w.destination;
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

void EncodeJpeg(const Image& image, bool grey, int fd, const std::string& path, const EncodeRequest& request) {
  if (image.channels == 4) throw Error(path, "JPEG cannot keep the image's alpha channel");
  const auto w = std::make_unique<JpegWrite>();
  w->fd = fd;
  w->cinfo.err = jpeg_std_error(&w->err);
  w->err.error_exit = OnWriteError;
  w->cinfo.client_data = w.get();
  const bool created = CreateWriter(*w);
  struct Cleanup {
    jpeg_compress_struct& cinfo;
    ~Cleanup() { jpeg_destroy_compress(&cinfo); }
  } cleanup{w->cinfo};
  if (!created) throw Error(path, std::string("cannot start the JPEG encoder: ") + w->message);
  std::vector<uint8_t> spare(static_cast<size_t>(image.width) * 3);
  if (!WriteRows(*w, &image, grey, request.jpegQuality, spare.data(), &request.cancel)) {
    if (w->cancelled) throw Cancelled(path);
    throw Error(path, std::string("cannot write the JPEG file: ") + w->message);
  }
}

}  // namespace

extern const Codec kJpegCodec{"JPEG", "jpeg", {"jpg", "jpeg"}, false, Sniff, DecodeJpeg, EncodeJpeg};

}  // namespace gm::io
