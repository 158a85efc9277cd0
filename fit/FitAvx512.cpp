// AVX-512 variant (F, BW, VL): 16 pixels per 64-byte vector for the
// threshold, 64 + 32 glyph lanes for scoring, masked loads and stores for the
// ends of rows so that nothing past a row's pixels is touched.
#include <immintrin.h>

#include <array>

#include "fit/FitCells.h"
#include "fit/FitX86.h"
#include "fit/Variants.h"

namespace {

// For the 192 samples of 64 pixels, three vectors of: which of the 8 row
// bytes holds the sample's pixel, and which bit of it.
struct WidenPattern {
  alignas(64) uint8_t byteOf[3][64];
  alignas(64) uint8_t bitOf[3][64];
};

constexpr WidenPattern MakeWidenPattern() {
  WidenPattern p{};
  for (int q = 0; q < 3; ++q) {
    for (int t = 0; t < 64; ++t) {
      const int pixel = (64 * q + t) / 3;
      p.byteOf[q][t] = static_cast<uint8_t>(pixel / 8);
      p.bitOf[q][t] = static_cast<uint8_t>(1u << (pixel % 8));
    }
  }
  return p;
}

constexpr WidenPattern kWiden = MakeWidenPattern();

__mmask64 FirstBytes(uint32_t count) { return count >= 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1; }

struct Avx512 {
  // Up to 16 pixels: their 48 bytes are spread to R G B 0 per pixel, four
  // pixels to each 16-byte lane, and summed as 3R + 6G + B.
  static __mmask16 Light16(const uint8_t* src, uint32_t pixels) {
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    const __m512i spread = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    const __m512i weights = _mm512_set1_epi32(0x00010603);  // bytes 3, 6, 1, 0
    const __m512i ones = _mm512_set1_epi16(1);
    const __m512i raw = _mm512_maskz_loadu_epi8(FirstBytes(3 * pixels), src);
    const __m512i rgb = _mm512_shuffle_epi8(_mm512_permutexvar_epi32(lanes, raw), spread);
    const __m512i sum = _mm512_madd_epi16(_mm512_maddubs_epi16(rgb, weights), ones);
    return _mm512_cmpgt_epi32_mask(sum, _mm512_set1_epi32(1279));
  }

  static void MaskRow(const uint8_t* src, uint32_t groups, uint8_t* bits) {
    uint32_t k = 0;
    for (; k + 2 <= groups; k += 2, src += 2 * kCellBytes) {
      const uint16_t two = Light16(src, 16);
      std::memcpy(bits + k, &two, sizeof two);
    }
    if (k < groups) bits[k] = static_cast<uint8_t>(Light16(src, 8));
  }

  static uint64_t SameAsLeft(const CellRows& rows, uint32_t cells) {
    const __mmask64 valid = FirstBytes(cells - 1);
    __mmask64 same = valid;
    for (int i = 0; i < kGlyphHeight; ++i) {
      const __m512i left = _mm512_maskz_loadu_epi8(valid, rows[i]);
      const __m512i right = _mm512_maskz_loadu_epi8(valid, rows[i] + 1);
      same &= _mm512_cmpeq_epi8_mask(left, right);
    }
    return static_cast<uint64_t>(same) << 1;
  }

  // Eight row bytes (64 pixels, 192 samples) per step: each sample picks its
  // pixel's row byte by a shuffle and tests its bit.
  static void WidenRow(const FitTables&, const uint8_t* bits, uint32_t groups, uint8_t* dst, uint8_t value) {
    const __m512i fill = _mm512_set1_epi8(static_cast<char>(value));
    for (uint32_t k = 0; k < groups; k += 8, dst += 8 * kCellBytes) {
      const uint32_t count = groups - k < 8 ? groups - k : 8;
      uint64_t eight = 0;
      std::memcpy(&eight, bits + k, count);
      const __m512i row = _mm512_set1_epi64(static_cast<long long>(eight));
      const uint32_t samples = count * kCellBytes;
      for (uint32_t q = 0; q < 3 && 64 * q < samples; ++q) {
        const __m512i byteOf = _mm512_loadu_si512(kWiden.byteOf[q]);
        const __m512i bitOf = _mm512_loadu_si512(kWiden.bitOf[q]);
        const __mmask64 set = _mm512_test_epi8_mask(_mm512_shuffle_epi8(row, byteOf), bitOf);
        _mm512_mask_storeu_epi8(dst + 64 * q, FirstBytes(samples - 64 * q), _mm512_maskz_mov_epi8(set, fill));
      }
    }
  }

  static void DrawInner(uint8_t* dst, const uint8_t* drawn) { DrawInner32(dst, drawn); }

  static int BestGlyph(const FitTables& t, const CellRows& rows, uint32_t n) {
    __m512i low = _mm512_loadu_si512(t.bias);
    __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.bias + 64));
    for (int i = 0; i < kGlyphHeight; ++i) {
      const uint8_t* gain = t.rowGain[i][rows[i][n]];
      low = _mm512_add_epi8(low, _mm512_loadu_si512(gain));
      high = _mm256_add_epi8(high, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(gain + 64)));
    }
    __m256i top = _mm256_max_epu8(_mm512_castsi512_si256(low), _mm512_extracti64x4_epi64(low, 1));
    top = _mm256_max_epu8(top, high);
    const __m128i half = MaxByte(_mm_max_epu8(_mm256_castsi256_si128(top), _mm256_extracti128_si256(top, 1)));
    const __mmask64 lowHits = _mm512_cmpeq_epu8_mask(low, _mm512_broadcastb_epi8(half));
    if (lowHits != 0) return __builtin_ctzll(lowHits);
    return 64 + __builtin_ctz(_mm256_cmpeq_epu8_mask(high, _mm256_broadcastb_epi8(half)));
  }
};

}  // namespace

void FitAvx512(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  FitCells<Avx512>(pixels, width, height, rowBytes);
}
