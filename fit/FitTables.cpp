#include "fit/FitTables.h"

#include <bit>

namespace {

constexpr int kMostStrokes = 45;

void Build(FitTables& t) {
  for (int g = 0; g < kGlyphLanes; ++g) {
    int strokes = 0;
    for (int i = 0; i < kGlyphHeight; ++i) {
      const unsigned row = g < kGlyphCount ? GlyphTable[g][i] : 0u;
      strokes += std::popcount(row);
      for (unsigned v = 0; v < 256; ++v) t.rowGain[i][v][g] = static_cast<uint8_t>(3 * std::popcount(row & v));
    }
    t.bias[g] = g < kGlyphCount ? static_cast<uint8_t>(kMostStrokes - strokes) : 0;
  }
  for (unsigned v = 0; v < 256; ++v) {
    for (int k = 0; k < kGlyphWidth * kBytesPerPixel; ++k) t.widen[v][k] = (v >> (k / kBytesPerPixel)) & 1u ? 0xFF : 0x00;
  }
  for (int g = 0; g < kGlyphCount; ++g) {
    for (int i = 0; i < kGlyphHeight; ++i) {
      for (int k = 0; k < kGlyphWidth * kBytesPerPixel; ++k) {
        t.drawn[g][i][k] = (GlyphTable[g][i] >> (k / kBytesPerPixel)) & 1u ? 192 : 0;
      }
    }
  }
}

}  // namespace

const FitTables& GetFitTables() {
  static FitTables tables;
  static const bool built = (Build(tables), true);
  (void)built;
  return tables;
}
