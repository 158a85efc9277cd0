// WebP through libwebp: still files decoded straight into the image, shrunk
// on load by the library's own rescaler; animations composed by libwebp's
// animation decoder; lossless output, which keeps text art's few levels
// exactly and packs them far tighter than lossy coding.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "io/Animation.h"
#include "io/Exif.h"
#include "io/Formats.h"

namespace gm::io {

namespace {

constexpr int32_t kMaxSide = 16383;
// The file is handed to the decoder this much at a time, so that a cancel
// is seen between slices.
constexpr size_t kSlice = size_t{1} << 20;

bool Sniff(std::span<const uint8_t> h) {
  return h.size() >= 12 && std::memcmp(h.data(), "RIFF", 4) == 0 && std::memcmp(h.data() + 8, "WEBP", 4) == 0;
}

const char* Reason(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
      return "out of memory";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "a feature libwebp does not support";
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return "the data ends early";
    default:
      return "corrupt data";
  }
}

using Demuxer = std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)>;

// The file in memory and its chunks; a file whose chunks do not add up is
// refused here, before any pixel is decoded.
struct WebpFile {
  std::span<const uint8_t> data;
  Demuxer demux{nullptr, WebPDemuxDelete};
  DecodeLimits limits;  // less what holding the file costs
  uint32_t flags = 0;
  int orientation = 1;

  WebpFile(Source& source, const DecodeRequest& request) : limits(request.limits) {
    data = source.Whole(limits.maxBytes, "WebP");
    limits.maxBytes -= std::min(limits.maxBytes, source.HeldBytes());
    const WebPData whole{data.data(), data.size()};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    demux.reset(WebPDemuxPartial(&whole, &state));
    if (state != WEBP_DEMUX_DONE) {
      throw Error(source.Name(), state == WEBP_DEMUX_PARSE_ERROR ? "not a valid WebP file" : "truncated WebP file");
    }
    flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    WebPChunkIterator exif;
    if ((flags & EXIF_FLAG) && WebPDemuxGetChunk(demux.get(), "EXIF", 1, &exif)) {
      orientation = ExifOrientation(std::span<const uint8_t>(exif.chunk.bytes, exif.chunk.size));
      WebPDemuxReleaseChunkIterator(&exif);
    }
  }
};

class WebpFrames final : public FrameReader {
 public:
  WebpFrames(WebpFile file, const std::string& path, const DecodeRequest& request)
      : file_(std::move(file)), path_(path) {
    width = static_cast<int32_t>(WebPDemuxGetI(file_.demux.get(), WEBP_FF_CANVAS_WIDTH));
    height = static_cast<int32_t>(WebPDemuxGetI(file_.demux.get(), WEBP_FF_CANVAS_HEIGHT));
    animated = WebPDemuxGetI(file_.demux.get(), WEBP_FF_FRAME_COUNT) > 1;
    plays = static_cast<int>(WebPDemuxGetI(file_.demux.get(), WEBP_FF_LOOP_COUNT));
    orientation = file_.orientation;
    // libwebp keeps the canvas and the one before it; a lossless frame
    // decodes into a buffer of its own, at most the canvas's size.
    CheckMemory(path, uint64_t{12} * static_cast<uint64_t>(width) * static_cast<uint64_t>(height),
                "the WebP animation decoder's canvases", DecodeRequest(file_.limits, {}, request.scale));
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    const WebPData whole{file_.data.data(), file_.data.size()};
    decoder_.reset(WebPAnimDecoderNew(&whole, &options));
    if (!decoder_) throw Error(path_, "not a valid WebP animation");
    canvas_ = Image(width, height, 4);
  }

  const Image* Next(int& delayMs) override {
    if (!WebPAnimDecoderHasMoreFrames(decoder_.get())) return nullptr;
    uint8_t* pixels = nullptr;
    int end = 0;  // when the frame stops being shown, from the start
    if (!WebPAnimDecoderGetNext(decoder_.get(), &pixels, &end)) throw Error(path_, "corrupt WebP animation frame");
    std::memcpy(canvas_.pixels.data(), pixels, canvas_.pixels.size());
    delayMs = end - shownUntil_;
    shownUntil_ = end;
    return &canvas_;
  }

 private:
  Image canvas_;
  WebpFile file_;
  std::string path_;
  std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder_{nullptr, WebPAnimDecoderDelete};
  int shownUntil_ = 0;
};

std::unique_ptr<FrameReader> AnimationOf(WebpFile& file, const std::string& path, const DecodeRequest& request) {
  if (!(file.flags & ANIMATION_FLAG)) return nullptr;
  return std::make_unique<WebpFrames>(std::move(file), path, request);
}

std::unique_ptr<FrameReader> WebpAnimation(Source& source, const DecodeRequest& request) {
  WebpFile file(source, request);
  return AnimationOf(file, source.Name(), request);
}

// What libwebp holds while decoding a still image besides the output: a
// lossless image whole as 32-bit pixels, a lossy one a few rows of
// macroblocks and, with alpha, the alpha plane.
uint64_t DecoderBytes(const WebPBitstreamFeatures& f) {
  const uint64_t w = static_cast<uint64_t>(f.width), h = static_cast<uint64_t>(f.height);
  const uint64_t rows = f.format == 2 ? 4 * w * h : (f.has_alpha ? w * h : 0);
  return rows + 512 * w + (uint64_t{1} << 20);
}

Image DecodeWebp(Source& source, const DecodeRequest& request) {
  const std::string& path = source.Name();
  WebpFile file(source, request);
  if (auto frames = AnimationOf(file, path, request)) return FrameOf(*frames, path, request);
  if (request.frame > 0) throw Error(path, "the image has only one frame");

  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) throw Error(path, "libwebp is not the version the tool was built with");
  const VP8StatusCode header = WebPGetFeatures(file.data.data(), file.data.size(), &config.input);
  if (header != VP8_STATUS_OK) throw Error(path, std::string("not a valid WebP file: ") + Reason(header));
  const WebPBitstreamFeatures& f = config.input;
  const int channels = f.has_alpha ? 4 : 3;
  CheckDimensions(path, static_cast<uint64_t>(f.width), static_cast<uint64_t>(f.height), channels,
                  DecodeLimits{file.limits.maxDimension, UINT64_MAX});
  // Shrunk by the library while it decodes; enlarged by the averager after.
  const auto target = request.scale.Resolve(static_cast<uint32_t>(f.width), static_cast<uint32_t>(f.height),
                                            file.orientation);
  const bool shrink = target && target->width <= f.width && target->height <= f.height &&
                      (target->width < f.width || target->height < f.height);
  const Size out = shrink ? *target : Size{f.width, f.height};
  CheckDimensions(path, static_cast<uint64_t>(out.width), static_cast<uint64_t>(out.height), channels, file.limits);
  if (target) {
    CheckDimensions(path, static_cast<uint64_t>(target->width), static_cast<uint64_t>(target->height), channels,
                    file.limits);
  }
  const uint64_t outBytes = static_cast<uint64_t>(out.width) * static_cast<uint64_t>(out.height) * channels;
  CheckMemory(path, outBytes + DecoderBytes(f), "the decoded image and the WebP decoder's buffers", file.limits);

  Image image(out.width, out.height, channels);
  config.output.colorspace = channels == 4 ? MODE_RGBA : MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = image.pixels.data();
  config.output.u.RGBA.stride = static_cast<int>(image.RowBytes());
  config.output.u.RGBA.size = image.pixels.size();
  if (shrink) {
    config.options.use_scaling = 1;
    config.options.scaled_width = out.width;
    config.options.scaled_height = out.height;
  }
  std::unique_ptr<WebPIDecoder, decltype(&WebPIDelete)> decoder(WebPIDecode(nullptr, 0, &config), WebPIDelete);
  if (!decoder) throw std::bad_alloc();
  VP8StatusCode status = VP8_STATUS_SUSPENDED;
  for (size_t end = std::min(kSlice, file.data.size()); status == VP8_STATUS_SUSPENDED;
       end = std::min(end + kSlice, file.data.size())) {
    if (request.Cancelled()) throw Cancelled(path);
    status = WebPIUpdate(decoder.get(), file.data.data(), end);
    if (status == VP8_STATUS_SUSPENDED && end == file.data.size()) status = VP8_STATUS_NOT_ENOUGH_DATA;
  }
  if (status != VP8_STATUS_OK) throw Error(path, std::string("corrupt or truncated WebP file: ") + Reason(status));
  if (target && !shrink) image = AreaScale(image, *target, request.cancel);
  image.orientation = file.orientation;
  return image;
}


struct Writing {
  FdWriter writer;
  const CancelCheck* cancel;
  bool cancelled = false;
};

int WriteToFd(const uint8_t* data, size_t size, const WebPPicture* picture) {
  return static_cast<Writing*>(picture->custom_ptr)->writer.Write(data, size) ? 1 : 0;
}

int KeepGoing(int, const WebPPicture* picture) {
  auto* w = static_cast<Writing*>(picture->user_data);
  w->cancelled = *w->cancel && (*w->cancel)();
  return w->cancelled ? 0 : 1;
}

// Larger than kMaxSide a side, the tool refuses the image before filtering it.
void EncodeWebp(const Image& image, bool, int fd, const std::string& path, const EncodeRequest& request) {
  WebPConfig config;
  if (!WebPConfigInit(&config) || !WebPConfigLosslessPreset(&config, 1)) throw Error(path, "cannot set up libwebp");
  config.exact = 1;  // colour under transparent pixels is kept, as the other formats keep it
  WebPPicture picture;
  if (!WebPPictureInit(&picture)) throw Error(path, "cannot set up libwebp");
  struct Free {
    WebPPicture& p;
    ~Free() { WebPPictureFree(&p); }
  } free{picture};
  picture.use_argb = 1;
  picture.width = image.width;
  picture.height = image.height;
  const int stride = static_cast<int>(image.RowBytes());
  const int imported = image.channels == 4 ? WebPPictureImportRGBA(&picture, image.pixels.data(), stride)
                                           : WebPPictureImportRGB(&picture, image.pixels.data(), stride);
  if (!imported) throw std::bad_alloc();
  Writing writing{FdWriter(fd), &request.cancel};
  picture.writer = WriteToFd;
  picture.custom_ptr = &writing;
  picture.progress_hook = KeepGoing;
  picture.user_data = &writing;
  const bool done = WebPEncode(&config, &picture) && writing.writer.Flush();
  if (writing.cancelled) throw Cancelled(path);
  if (done) return;
  if (writing.writer.Errno()) throw Error(path, std::string("cannot write the WebP file: ") + std::strerror(writing.writer.Errno()));
  if (picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY) throw std::bad_alloc();
  throw Error(path, "cannot write the WebP file: libwebp error " + std::to_string(picture.error_code));
}

}  // namespace

extern const Codec kWebpCodec{"WebP", "webp", {"webp"}, true, Sniff, DecodeWebp, EncodeWebp, WebpAnimation, kMaxSide};

}  // namespace gm::io
