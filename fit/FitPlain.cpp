#include "fit/FitPlain.h"

#include <cstddef>

#include "fit/FitGlyphs.h"

namespace {

// The weights are the single-precision numbers nearest 0.1, 0.3 and 0.6,
// widened to double before any product is formed.
constexpr double kWeightR = static_cast<double>(0.3f);
constexpr double kWeightG = static_cast<double>(0.6f);
constexpr double kWeightB = static_cast<double>(0.1f);

uint8_t* RowAt(uint8_t* pixels, uint32_t row, int32_t rowBytes) {
  return pixels + static_cast<std::ptrdiff_t>(row) * rowBytes;
}

}  // namespace

void ThresholdPixels(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* p = RowAt(pixels, y, rowBytes);
    for (uint32_t x = 0; x < width; ++x, p += kBytesPerPixel) {
      const double luminance = (p[2] * kWeightB + p[0] * kWeightR) + p[1] * kWeightG;
      const uint8_t level = static_cast<int32_t>(luminance) > 127 ? 255 : 0;
      p[0] = p[1] = p[2] = level;
    }
  }
}

void ScoreCell(const uint8_t* cell, int32_t rowBytes, int32_t scores[kGlyphCount]) {
  for (int g = 0; g < kGlyphCount; ++g) scores[g] = 0;
  for (int i = 0; i < kGlyphHeight; ++i) {
    const uint8_t* row = cell + static_cast<std::ptrdiff_t>(i) * rowBytes;
    for (int j = 0; j < kGlyphWidth; ++j) {
      const bool light = row[kBytesPerPixel * j] != 0;
      for (int g = 0; g < kGlyphCount; ++g) {
        const bool stroke = (GlyphTable[g][i] & (1u << j)) != 0;
        if (stroke && light) {
          scores[g] += 2;
        } else if (!stroke && !light) {
          scores[g] += 1;
        }
      }
    }
  }
}

int PickBestGlyph(const int32_t scores[kGlyphCount]) {
  int best = 0;
  int32_t bestScore = 0;
  for (int g = 0; g < kGlyphCount; ++g) {
    if (scores[g] > bestScore) {
      best = g;
      bestScore = scores[g];
    }
  }
  return best;
}

void DrawGlyph(uint8_t* cell, int32_t rowBytes, int glyph) {
  for (int i = 0; i < kGlyphHeight; ++i) {
    uint8_t* row = cell + static_cast<std::ptrdiff_t>(i) * rowBytes;
    for (int j = 0; j < kGlyphWidth; ++j) {
      const uint8_t v = (GlyphTable[glyph][i] & (1u << j)) ? 192 : 0;
      row[kBytesPerPixel * j] = row[kBytesPerPixel * j + 1] = row[kBytesPerPixel * j + 2] = v;
    }
  }
}

void FitGlyphsPlain(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  ThresholdPixels(pixels, width, height, rowBytes);

  const uint32_t cellColumns = width / kGlyphWidth;
  const uint32_t cellRows = height / kGlyphHeight;
  int32_t scores[kGlyphCount];
  for (uint32_t m = 0; m < cellRows; ++m) {
    uint8_t* cellRow = RowAt(pixels, m * kGlyphHeight, rowBytes);
    for (uint32_t n = 0; n < cellColumns; ++n) {
      uint8_t* cell = cellRow + static_cast<std::ptrdiff_t>(n) * kGlyphWidth * kBytesPerPixel;
      ScoreCell(cell, rowBytes, scores);
      DrawGlyph(cell, rowBytes, PickBestGlyph(scores));
    }
  }
}
