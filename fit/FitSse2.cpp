// SSE2 variant, the baseline of both Windows targets: 16-byte vectors for
// thresholding, scoring and drawing.
#include <emmintrin.h>

#include "fit/FitCells.h"
#include "fit/FitX86.h"
#include "fit/Variants.h"

namespace {

// SSE2 has no byte shuffle to gather R, G and B, so the weighted sum
// 3·x[t] + 6·x[t+1] + x[t+2] is formed at every byte position t of `v`
// (`next` holds the 16 bytes after it); bit t of the result is set where it
// reaches 1280. Only positions 0, 3, 6, ... start a pixel; the rest are junk.
unsigned LightPositions(__m128i v, __m128i next) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i v1 = _mm_or_si128(_mm_srli_si128(v, 1), _mm_slli_si128(next, 15));
  const __m128i v2 = _mm_or_si128(_mm_srli_si128(v, 2), _mm_slli_si128(next, 14));
  const __m128i three = _mm_set1_epi16(3), six = _mm_set1_epi16(6), darkest = _mm_set1_epi16(1279);
  const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), three),
                                                  _mm_mullo_epi16(_mm_unpacklo_epi8(v1, zero), six)),
                                    _mm_unpacklo_epi8(v2, zero));
  const __m128i high = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), three),
                                                   _mm_mullo_epi16(_mm_unpackhi_epi8(v1, zero), six)),
                                     _mm_unpackhi_epi8(v2, zero));
  const __m128i light = _mm_packs_epi16(_mm_cmpgt_epi16(low, darkest), _mm_cmpgt_epi16(high, darkest));
  return static_cast<unsigned>(_mm_movemask_epi8(light));
}

// Bits 0, 3, ..., 21 of x gathered into bits 0 to 7.
uint8_t EveryThirdBit(uint32_t x) {
  x &= 0x249249;
  x = (x | x >> 2) & 0x0C30C3;
  x = (x | x >> 4) & 0x00F00F;
  x = (x | x >> 8) & 0x0000FF;
  return static_cast<uint8_t>(x);
}

struct Sse2 {
  static uint64_t SameAsLeft(const CellRows& rows, uint32_t cells) {
    uint64_t same = ~uint64_t{0};
    for (int i = 0; i < kGlyphHeight; ++i) {
      uint64_t row = 0;
      for (int k = 0; k < 64; k += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[i] + k));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[i] + k + 1));
        row |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)))} << k;
      }
      same &= row;
    }
    return RealPairs(same, cells);
  }

  // Two groups (16 pixels, 48 bytes) per step.
  static void MaskRow(const uint8_t* src, uint32_t groups, uint8_t* bits) {
    uint32_t k = 0;
    for (; k + 2 <= groups; k += 2, src += 2 * kCellBytes) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
      const uint64_t light = LightPositions(a, b) | uint64_t{LightPositions(b, c)} << 16 |
                             uint64_t{LightPositions(c, _mm_setzero_si128())} << 32;
      bits[k] = EveryThirdBit(static_cast<uint32_t>(light));
      bits[k + 1] = EveryThirdBit(static_cast<uint32_t>(light >> 24));
    }
    MaskRowScalar(src, groups - k, bits + k);
  }

  static void WidenRow(const FitTables& t, const uint8_t* bits, uint32_t groups, uint8_t* dst, uint8_t value) {
    const __m128i fill = _mm_set1_epi8(static_cast<char>(value));
    for (uint32_t k = 0; k < groups; ++k, dst += kCellBytes) WidenGroup(t, bits[k], dst, fill);
  }

  static void DrawInner(uint8_t* dst, const uint8_t* drawn) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_loadu_si128(reinterpret_cast<const __m128i*>(drawn)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_loadl_epi64(reinterpret_cast<const __m128i*>(drawn + 16)));
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
    top = _mm_set1_epi8(static_cast<char>(_mm_cvtsi128_si32(MaxByte(top))));
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
