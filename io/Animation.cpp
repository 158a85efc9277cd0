#include "io/Animation.h"

#include <cstring>

#include "io/Formats.h"

namespace gm::io {

namespace {

bool Opaque(const Image& canvas) {
  const uint8_t* end = canvas.pixels.data() + canvas.pixels.size();
  for (const uint8_t* p = canvas.pixels.data() + 3; p < end; p += 4) {
    if (*p != 255) return false;
  }
  return true;
}

// The canvas as one frame: scaled as asked, its alpha dropped when the
// frame is opaque. The canvas itself stays for the next frame to draw on.
Image Take(const FrameReader& reader, const Image& canvas, const DecodeRequest& request) {
  const bool alpha = reader.alpha && !Opaque(canvas);
  const auto size = request.scale.Resolve(static_cast<uint32_t>(canvas.width), static_cast<uint32_t>(canvas.height),
                                          reader.orientation);
  Image scaled = size ? AreaScale(canvas, *size, request.cancel) : Image();
  const Image& from = size ? scaled : canvas;
  Image frame;
  if (alpha && size) {
    frame = std::move(scaled);
  } else {
    frame = Image(from.width, from.height, alpha ? 4 : 3);
    if (alpha) {
      std::memcpy(frame.pixels.data(), from.pixels.data(), from.pixels.size());
    } else {
      uint8_t* out = frame.pixels.data();
      const uint8_t* end = from.pixels.data() + from.pixels.size();
      for (const uint8_t* p = from.pixels.data(); p < end; p += 4, out += 3) std::memcpy(out, p, 3);
    }
  }
  frame.orientation = reader.orientation;
  return frame;
}

// A read that Ctrl-C interrupted fails the reader too: say what happened.
template <typename Work>
auto Reading(const Source& source, const DecodeRequest& request, Work&& work) {
  try {
    return work();
  } catch (const Cancelled&) {
    throw;
  } catch (const Error&) {
    if (request.Cancelled()) throw Cancelled(source.Name());
    throw;
  }
}

}  // namespace

void FrameReader::CheckMemory(const std::string& file, uint64_t held, const char* what,
                              const DecodeRequest& request) const {
  const auto w = static_cast<uint64_t>(width), h = static_cast<uint64_t>(height);
  CheckDimensions(file, w, h, 4, request.limits);
  const auto size = request.scale.Resolve(static_cast<uint32_t>(w), static_cast<uint32_t>(h), orientation);
  // Scaled to a height, a long thin canvas can be wider than the limit.
  if (size) CheckDimensions(file, static_cast<uint64_t>(size->width), static_cast<uint64_t>(size->height), 4, request.limits);
  const uint64_t frame = size ? static_cast<uint64_t>(size->width) * static_cast<uint64_t>(size->height) * 4 : w * h * 4;
  io::CheckMemory(file, w * h * 4 + frame + held, (std::string("the frames and ") + what).c_str(), request.limits);
}

Image FrameOf(FrameReader& reader, const std::string& file, const DecodeRequest& request) {
  const Image* canvas = nullptr;
  int delay = 0;
  for (int32_t shown = 0; shown <= request.frame; ++shown) {
    if (request.Cancelled()) throw Cancelled(file);
    canvas = reader.Next(delay);
    if (!canvas) {
      throw Error(file, shown == 1 ? std::string("the image has only one frame")
                                   : "the animation has only " + std::to_string(shown) + " frames");
    }
  }
  return Take(reader, *canvas, request);
}

int ShownDelay(int delayMs) { return delayMs <= 10 ? 100 : delayMs; }

Animation::Animation(const std::string& path, const DecodeRequest& request)
    : source_(std::make_unique<Source>(Source::Open(path, request.cancel))), request_(request) {
  codec_ = &SniffSource(*source_);
  if (codec_->frames) reader_ = Reading(*source_, request_, [&] { return codec_->frames(*source_, request_); });
}

Animation::~Animation() = default;

bool Animation::Animated() const { return reader_ && reader_->animated; }
int32_t Animation::Width() const { return reader_ ? reader_->width : 0; }
int32_t Animation::Height() const { return reader_ ? reader_->height : 0; }
int Animation::Orientation() const { return reader_ ? reader_->orientation : 1; }
int Animation::Plays() const { return reader_ ? reader_->plays : 1; }

bool Animation::Next(Image& image, int& delayMs) {
  return Reading(*source_, request_, [&] {
    if (!reader_) {
      if (stillDone_) return false;
      stillDone_ = true;
      image = codec_->decode(*source_, request_);
      delayMs = ShownDelay(0);
      return true;
    }
    if (request_.Cancelled()) throw Cancelled(source_->Name());
    int delay = 0;
    const Image* canvas = reader_->Next(delay);
    if (!canvas) return false;
    image = Take(*reader_, *canvas, request_);
    delayMs = ShownDelay(delay);
    return true;
  });
}

}  // namespace gm::io
