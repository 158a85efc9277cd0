// WebAssembly SIMD variant: 16-byte vectors for thresholding, scoring and
// drawing. A module built with it does not load where the engine lacks
// SIMD, so it is built only into the SIMD module; the loader picks that one
// after a feature check.
#include <wasm_simd128.h>

#include "fit/FitCells.h"
#include "fit/Variants.h"

namespace {

// 16 pixels from 48 bytes (a, b, c) as three planes, lane p holding pixel p.
// A single group passes zeros for the bytes past its 24.
struct Planes {
  v128_t r, g, b;
};
Planes Deinterleave(v128_t a, v128_t b, v128_t c) {
  const v128_t r = wasm_i8x16_shuffle(a, b, 0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 0, 0, 0, 0, 0);
  const v128_t g = wasm_i8x16_shuffle(a, b, 1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 0, 0, 0, 0, 0);
  const v128_t bl = wasm_i8x16_shuffle(a, b, 2, 5, 8, 11, 14, 17, 20, 23, 26, 29, 0, 0, 0, 0, 0, 0);
  return {wasm_i8x16_shuffle(r, c, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 20, 23, 26, 29),
          wasm_i8x16_shuffle(g, c, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18, 21, 24, 27, 30),
          wasm_i8x16_shuffle(bl, c, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 19, 22, 25, 28, 31)};
}

// Bit p set where pixel p of the 16 is light: 3R + 6G + B >= 1280, in
// 16-bit lanes (at most 2550).
uint32_t LightPixels(const Planes& p) {
  const v128_t three = wasm_i16x8_splat(3), six = wasm_i16x8_splat(6), darkest = wasm_i16x8_splat(1279);
  const auto weighted = [&](v128_t r, v128_t g, v128_t b) {
    return wasm_i16x8_gt(wasm_i16x8_add(wasm_i16x8_add(wasm_i16x8_mul(r, three), wasm_i16x8_mul(g, six)), b), darkest);
  };
  const v128_t low = weighted(wasm_u16x8_extend_low_u8x16(p.r), wasm_u16x8_extend_low_u8x16(p.g),
                              wasm_u16x8_extend_low_u8x16(p.b));
  const v128_t high = weighted(wasm_u16x8_extend_high_u8x16(p.r), wasm_u16x8_extend_high_u8x16(p.g),
                               wasm_u16x8_extend_high_u8x16(p.b));
  return wasm_i8x16_bitmask(wasm_i8x16_narrow_i16x8(low, high));
}

struct Wasm128 {
  static uint64_t SameAsLeft(const CellRows& rows, uint32_t cells) {
    uint64_t same = ~uint64_t{0};
    for (int i = 0; i < kGlyphHeight; ++i) {
      uint64_t row = 0;
      for (int k = 0; k < 64; k += 16) {
        const v128_t here = wasm_v128_load(rows[i] + k);
        const v128_t next = wasm_v128_load(rows[i] + k + 1);
        row |= uint64_t{wasm_i8x16_bitmask(wasm_i8x16_eq(here, next))} << k;
      }
      same &= row;
    }
    return RealPairs(same, cells);
  }

  // Two groups (16 pixels, 48 bytes) per step; a last odd group reads its
  // own 24 bytes only.
  static void MaskRow(const uint8_t* src, uint32_t groups, uint8_t* bits) {
    uint32_t k = 0;
    for (; k + 2 <= groups; k += 2, src += 2 * kCellBytes) {
      const uint32_t light =
          LightPixels(Deinterleave(wasm_v128_load(src), wasm_v128_load(src + 16), wasm_v128_load(src + 32)));
      bits[k] = static_cast<uint8_t>(light);
      bits[k + 1] = static_cast<uint8_t>(light >> 8);
    }
    if (k < groups) {
      const v128_t zero = wasm_i64x2_const(0, 0);
      bits[k] = static_cast<uint8_t>(
          LightPixels(Deinterleave(wasm_v128_load(src), wasm_v128_load64_zero(src + 16), zero)));
    }
  }

  static void WidenRow(const FitTables& t, const uint8_t* bits, uint32_t groups, uint8_t* dst, uint8_t value) {
    const v128_t fill = wasm_i8x16_splat(static_cast<int8_t>(value));
    for (uint32_t k = 0; k < groups; ++k, dst += kCellBytes) {
      const uint8_t* mask = t.widen[bits[k]];
      wasm_v128_store(dst, wasm_v128_and(wasm_v128_load(mask), fill));
      wasm_v128_store64_lane(dst + 16, wasm_v128_and(wasm_v128_load64_zero(mask + 16), fill), 0);
    }
  }

  static void DrawInner(uint8_t* dst, const uint8_t* drawn) {
    wasm_v128_store(dst, wasm_v128_load(drawn));
    wasm_v128_store64_lane(dst + 16, wasm_v128_load64_zero(drawn + 16), 0);
  }

  static int BestGlyph(const FitTables& t, const CellRows& rows, uint32_t n) {
    constexpr int kVectors = kGlyphLanes / 16;
    v128_t sum[kVectors];
    for (int v = 0; v < kVectors; ++v) sum[v] = wasm_v128_load(t.bias + 16 * v);
    for (int i = 0; i < kGlyphHeight; ++i) {
      const uint8_t* gain = t.rowGain[i][rows[i][n]];
      for (int v = 0; v < kVectors; ++v) sum[v] = wasm_i8x16_add(sum[v], wasm_v128_load(gain + 16 * v));
    }
    v128_t top = sum[0];
    for (int v = 1; v < kVectors; ++v) top = wasm_u8x16_max(top, sum[v]);
    top = wasm_u8x16_max(top, wasm_i8x16_shuffle(top, top, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7));
    top = wasm_u8x16_max(top, wasm_i8x16_shuffle(top, top, 4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15, 8, 9, 10, 11));
    top = wasm_u8x16_max(top, wasm_i8x16_shuffle(top, top, 2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
    top = wasm_u8x16_max(top, wasm_i8x16_shuffle(top, top, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
    for (int v = 0;; ++v) {
      const uint32_t hits = wasm_i8x16_bitmask(wasm_i8x16_eq(sum[v], top));
      if (hits != 0) return 16 * v + __builtin_ctz(hits);
    }
  }
};

}  // namespace

void FitWasm128(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  FitCells<Wasm128>(pixels, width, height, rowBytes);
}
