// An in-memory 8-bit image as a host holds a document: interleaved samples,
// rows packed back to back, three channels (RGB) or four (RGBA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gm {

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int channels = 3;
  std::vector<uint8_t> pixels;
  int orientation = 1;  // how a file says its rows are shown (EXIF, 1 to 8); 1 as stored

  Image() = default;
  Image(int32_t w, int32_t h, int c)
      : width(w), height(h), channels(c), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * c) {}

  size_t RowBytes() const { return static_cast<size_t>(width) * channels; }
  std::span<uint8_t> Row(int32_t y) { return {pixels.data() + static_cast<size_t>(y) * RowBytes(), RowBytes()}; }
  std::span<const uint8_t> Row(int32_t y) const {
    return {pixels.data() + static_cast<size_t>(y) * RowBytes(), RowBytes()};
  }
  uint8_t* At(int32_t x, int32_t y) { return pixels.data() + static_cast<size_t>(y) * RowBytes() + static_cast<size_t>(x) * channels; }
  const uint8_t* At(int32_t x, int32_t y) const {
    return pixels.data() + static_cast<size_t>(y) * RowBytes() + static_cast<size_t>(x) * channels;
  }
};

}  // namespace gm
