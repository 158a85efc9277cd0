#include "tests/TestImages.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/FitPlain.h"

namespace gm::test {

Image RandomImage(int32_t width, int32_t height, int channels, std::mt19937& rng) {
  Image image(width, height, channels);
  for (auto& b : image.pixels) b = static_cast<uint8_t>(rng());
  return image;
}

Image PhotoLikeImage(int32_t width, int32_t height, int channels, uint32_t seed) {
  std::mt19937 rng(seed);
  Image image(width, height, channels);
  const double fx = 0.01 + (rng() % 100) / 5000.0, fy = 0.013 + (rng() % 100) / 5000.0;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = image.At(x, y);
      const double base = 128 + 100 * std::sin(x * fx) * std::cos(y * fy);
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::clamp(base + (int(rng() % 41) - 20) + 10 * c, 0.0, 255.0));
      if (channels == 4) p[3] = static_cast<uint8_t>(rng());
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
