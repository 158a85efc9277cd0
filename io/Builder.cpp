#include "io/Builder.h"

#include <cstdint>

#include "io/Orient.h"
#include "io/Units.h"

namespace gm::io {

void CheckDimensions(const std::string& file, uint64_t width, uint64_t height, int channels,
                     const DecodeLimits& limits) {
  if (width == 0 || height == 0) {
    throw Error(file, "the image is " + std::to_string(width) + "x" + std::to_string(height) + ", it has no pixels");
  }
  const uint64_t limit = static_cast<uint64_t>(limits.maxDimension);
  if (width > limit || height > limit) {
    throw Error(file, "the image is " + std::to_string(width) + "x" + std::to_string(height) +
                          ", over the filter's limit of " + std::to_string(limit) + " pixels in either direction");
  }
  const uint64_t bytes = width * height * static_cast<uint64_t>(channels);
  if (bytes > limits.maxBytes) {
    throw Error(file, "the " + std::to_string(width) + "x" + std::to_string(height) + " image needs " +
                          FormatBytes(bytes) + " decoded, over the memory limit of " + FormatBytes(limits.maxBytes) +
                          " (--max-memory)");
  }
}

void CheckMemory(const std::string& file, uint64_t bytes, const char* what, const DecodeLimits& limits) {
  if (bytes > limits.maxBytes) {
    throw Error(file, std::string(what) + " need " + FormatBytes(bytes) + ", over the memory limit of " +
                          FormatBytes(limits.maxBytes) + " (--max-memory)");
  }
}

std::optional<Size> ScaleRequest::Resolve(uint32_t storedWidth, uint32_t storedHeight, int orientation) const {
  if (width <= 0) return std::nullopt;
  const auto w = static_cast<int32_t>(storedWidth), h = static_cast<int32_t>(storedHeight);
  if (!alongHeight && !(upright && SwapsAxes(orientation))) return ScaledSize(w, h, width);
  const Size turned = ScaledSize(h, w, width);
  return Size{turned.height, turned.width};
}

ImageBuilder::ImageBuilder(const std::string& file, uint32_t width, uint32_t height, int channels,
                           std::optional<Size> scaled, bool inOrder, const DecodeLimits& limits)
    : scaled_(scaled) {
  if (scaled && inOrder) {
    // Only the scaled image is held, so only it counts against the memory limit.
    CheckDimensions(file, width, height, channels, DecodeLimits{limits.maxDimension, UINT64_MAX});
    CheckDimensions(file, static_cast<uint64_t>(scaled->width), static_cast<uint64_t>(scaled->height), channels,
                    limits);
    scaler_.emplace(static_cast<int32_t>(width), static_cast<int32_t>(height), channels, *scaled);
    image_.width = static_cast<int32_t>(width);
    image_.height = static_cast<int32_t>(height);
    image_.channels = channels;
  } else {
    CheckDimensions(file, width, height, channels, limits);
    if (scaled) {
      CheckDimensions(file, static_cast<uint64_t>(scaled->width), static_cast<uint64_t>(scaled->height), channels,
                      limits);
    }
    image_ = Image(static_cast<int32_t>(width), static_cast<int32_t>(height), channels);
  }
}

uint8_t* ImageBuilder::Rows(uint32_t top, uint32_t end) {
  if (!scaler_) return image_.At(0, static_cast<int32_t>(top));
  bandTop_ = top;
  band_.resize(static_cast<size_t>(end - top) * image_.RowBytes());
  return band_.data();
}

void ImageBuilder::Done(uint32_t end) {
  if (!scaler_) return;
  for (uint32_t y = bandTop_; y < end; ++y) scaler_->AddRow(band_.data() + static_cast<size_t>(y - bandTop_) * RowBytes());
  bandTop_ = end;
}

Image ImageBuilder::Finish() {
  if (scaler_) return scaler_->Take();
  if (scaled_) {
    Image scaled = AreaScale(image_, *scaled_);
    image_ = Image();
    return scaled;
  }
  return std::move(image_);
}

}  // namespace gm::io
