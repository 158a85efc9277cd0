#include "io/Orient.h"

#include <algorithm>
#include <cstring>

namespace gm::io {

namespace {

void MirrorRows(Image& image) {
  const size_t step = static_cast<size_t>(image.channels);
  for (int32_t y = 0; y < image.height; ++y) {
    uint8_t* left = image.At(0, y);
    uint8_t* right = image.At(image.width - 1, y);
    for (; left < right; left += step, right -= step) std::swap_ranges(left, left + step, right);
  }
}

void FlipRows(Image& image) {
  for (int32_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom) {
    const auto a = image.Row(top);
    std::swap_ranges(a.begin(), a.end(), image.Row(bottom).begin());
  }
}

// Upright pixel (X, Y) comes from stored column x and row y: the stored
// rows become columns, counted from the left (5, 8) or the right (6, 7),
// and the stored columns become rows from the top (5, 6) or the bottom (7, 8).
// In square blocks, so that the column-wise side of the copy stays in cache.
template <int kChannels>
void Turn(const Image& image, Image& turned, bool fromRight, bool fromBottom) {
  const int32_t w = image.width, h = image.height;
  constexpr int32_t kBlock = 64;
  for (int32_t top = 0; top < w; top += kBlock) {
    for (int32_t left = 0; left < h; left += kBlock) {
      for (int32_t Y = top; Y < std::min(top + kBlock, w); ++Y) {
        const int32_t x = fromBottom ? w - 1 - Y : Y;
        uint8_t* out = turned.At(left, Y);
        for (int32_t X = left; X < std::min(left + kBlock, h); ++X, out += kChannels) {
          std::memcpy(out, image.At(x, fromRight ? h - 1 - X : X), kChannels);
        }
      }
    }
  }
}

}  // namespace

bool SwapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

Image Orient(Image image, int orientation) {
  switch (orientation) {
    case 2:
      MirrorRows(image);
      return image;
    case 3:
      MirrorRows(image);
      FlipRows(image);
      return image;
    case 4:
      FlipRows(image);
      return image;
    case 5:
    case 6:
    case 7:
    case 8:
      break;
    default:
      return image;
  }
  const bool fromRight = orientation == 6 || orientation == 7;
  const bool fromBottom = orientation == 7 || orientation == 8;
  Image turned(image.height, image.width, image.channels);
  if (image.channels == 4) {
    Turn<4>(image, turned, fromRight, fromBottom);
  } else {
    Turn<3>(image, turned, fromRight, fromBottom);
  }
  return turned;
}

}  // namespace gm::io
