#include "tests/TestImages.h"

#include <algorithm>

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

Image ReferenceResult(Image image, std::optional<VRect> area) {
  const VRect r = area.value_or(VRect{0, 0, image.height, image.width});
  if (r.right <= r.left || r.bottom <= r.top) return image;
  Image rgb(image.width, image.height, 3);
  const size_t step = static_cast<size_t>(image.channels);
  for (size_t i = 0, j = 0; i < rgb.pixels.size(); i += 3, j += step) std::copy_n(&image.pixels[j], 3, &rgb.pixels[i]);
  FitGlyphsPlain(rgb.At(r.left, r.top), static_cast<uint32_t>(r.right - r.left), static_cast<uint32_t>(r.bottom - r.top),
                 static_cast<int32_t>(rgb.RowBytes()));
  for (size_t i = 0, j = 0; i < rgb.pixels.size(); i += 3, j += step) std::copy_n(&rgb.pixels[i], 3, &image.pixels[j]);
  return image;
}

}  // namespace gm::test
