// Portable variant: plain C++ with 64-bit words standing in for vectors.
#include <cstring>

#include "fit/FitCells.h"
#include "fit/Variants.h"

namespace {

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

struct Generic {
  static uint64_t SameAsLeft(const CellRows& rows, uint32_t cells) { return SameAsLeftScalar(rows, cells); }

  static void MaskRow(const uint8_t* src, uint32_t groups, uint8_t* bits) { MaskRowScalar(src, groups, bits); }

  static void WidenRow(const FitTables& t, const uint8_t* bits, uint32_t groups, uint8_t* dst, uint8_t value) {
    const uint64_t fill = value * 0x0101010101010101ull;
    for (uint32_t k = 0; k < groups; ++k, dst += kCellBytes) {
      const uint8_t* mask = t.widen[bits[k]];
      for (int w = 0; w < 3; ++w) Store64(dst + 8 * w, Load64(mask + 8 * w) & fill);
    }
  }

  static void DrawInner(uint8_t* dst, const uint8_t* drawn) { std::memcpy(dst, drawn, kCellBytes); }

  // The lanes never exceed 135, so whole words add without carrying across.
  static int BestGlyph(const FitTables& t, const CellRows& rows, uint32_t n) {
    constexpr int kWords = kGlyphLanes / 8;
    uint64_t sum[kWords];
    for (int w = 0; w < kWords; ++w) sum[w] = Load64(t.bias + 8 * w);
    for (int i = 0; i < kGlyphHeight; ++i) {
      const uint8_t* gain = t.rowGain[i][rows[i][n]];
      for (int w = 0; w < kWords; ++w) sum[w] += Load64(gain + 8 * w);
    }
    uint8_t lanes[kGlyphLanes];
    std::memcpy(lanes, sum, sizeof lanes);
    return FirstMaxIndex(lanes, kGlyphCount);
  }
};

}  // namespace

void FitGeneric(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  FitCells<Generic>(pixels, width, height, rowBytes);
}
