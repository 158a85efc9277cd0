#include "tests/TestImages.h"

#include <algorithm>
#include <vector>

#include "fit/FitPlain.h"

namespace gm::test {

Image RandomImage(int32_t width, int32_t height, int channels, std::mt19937& rng) {
  Image image(width, height, channels);
  for (auto& b : image.pixels) b = static_cast<uint8_t>(rng());
  return image;
}

Image Picture(int32_t width, int32_t height, int channels, uint32_t seed) {
  Image image(width, height, channels);
  uint32_t state = seed * 2654435761u + 1;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>(state >> 27);  // 0..31
      uint8_t* p = image.At(x, y);
      const int cx = x - width / 2, cy = y - height / 2;
      const bool disc = cx * cx + cy * cy < (width * width) / 9;
      p[0] = static_cast<uint8_t>(((x * 255) / std::max(1, width - 1) + noise) & 0xFF);
      p[1] = static_cast<uint8_t>(disc ? 230 - noise : (y * 7 + noise) & 0xFF);
      p[2] = static_cast<uint8_t>(((x ^ y) * 3 + noise) & 0xFF);
      if (channels == 4) p[3] = static_cast<uint8_t>((x * 11 + y * 5) & 0xFF);
    }
  }
  return image;
}

Image ReferenceResult(const Image& image, VRect rect) {
  Image out = image;
  const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return out;
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = image.At(rect.left + x, rect.top + y)[c];
  FitGlyphsPlain(rgb.data(), w, h, 3 * w);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) out.At(rect.left + x, rect.top + y)[c] = rgb[(size_t(y) * w + x) * 3 + c];
  return out;
}

}  // namespace gm::test
