// SSE2 variant, the baseline of both Windows targets. SSE2 has no byte
// shuffle, so pixels are thresholded one by one; scoring and drawing use
// 16-byte vectors.
#include <emmintrin.h>

#include "fit/FitCells.h"
#include "fit/Kernels.h"

namespace {

struct Sse2 {
  static uint64_t SameAsLeft(const CellRows& rows, uint32_t cells) { return SameAsLeftScalar(rows, cells); }

  static void MaskRow(const uint8_t* src, uint32_t groups, uint8_t* bits) { MaskRowScalar(src, groups, bits); }

  static void WidenRow(const FitTables& t, const uint8_t* bits, uint32_t groups, uint8_t* dst, uint8_t value) {
    const __m128i fill = _mm_set1_epi8(static_cast<char>(value));
    for (uint32_t k = 0; k < groups; ++k, dst += kCellBytes) {
      const uint8_t* mask = t.widen[bits[k]];
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask));
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask + 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_and_si128(a, fill));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_and_si128(b, fill));
    }
  }

  static void DrawInner(uint8_t* dst, const uint8_t* drawn) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_load_si128(reinterpret_cast<const __m128i*>(drawn)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_load_si128(reinterpret_cast<const __m128i*>(drawn + 16)));
  }

  static int BestGlyph(const FitTables& t, const CellRows& rows, uint32_t n) {
    constexpr int kVectors = kGlyphLanes / 16;
    __m128i sum[kVectors];
    for (int v = 0; v < kVectors; ++v) sum[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.bias + 16 * v));
    for (int i = 0; i < kGlyphHeight; ++i) {
      const uint8_t* gain = t.rowGain[i][rows[i][n]];
      for (int v = 0; v < kVectors; ++v)
        sum[v] = _mm_add_epi8(sum[v], _mm_loadu_si128(reinterpret_cast<const __m128i*>(gain + 16 * v)));
    }
    __m128i top = sum[0];
    for (int v = 1; v < kVectors; ++v) top = _mm_max_epu8(top, sum[v]);
    top = _mm_max_epu8(top, _mm_srli_si128(top, 8));
    top = _mm_max_epu8(top, _mm_srli_si128(top, 4));
    top = _mm_max_epu8(top, _mm_srli_si128(top, 2));
    top = _mm_max_epu8(top, _mm_srli_si128(top, 1));
    top = _mm_set1_epi8(static_cast<char>(_mm_cvtsi128_si32(top)));
    for (int v = 0;; ++v) {
      const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(sum[v], top)));
      if (hits != 0) return 16 * v + __builtin_ctz(hits);
    }
  }
};

}  // namespace

void FitSse2(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  FitCells<Sse2>(pixels, width, height, rowBytes);
}
