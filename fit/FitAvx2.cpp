// AVX2 variant: 8 pixels per 32-byte vector for the threshold, 32 glyph
// lanes per vector for scoring, 32 samples per store for drawing.
#include <immintrin.h>

#include "fit/FitCells.h"
#include "fit/FitX86.h"
#include "fit/Variants.h"

namespace {

struct Avx2 {
  static uint64_t SameAsLeft(const CellRows& rows, uint32_t cells) {
    uint64_t same = ~uint64_t{0};
    for (int i = 0; i < kGlyphHeight; ++i) {
      const uint8_t* row = rows[i];
      const auto at = [row](int k) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + k)); };
      const uint32_t low = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(at(0), at(1))));
      const uint32_t high = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(at(32), at(33))));
      same &= low | uint64_t{high} << 32;
    }
    return RealPairs(same, cells);
  }

  // The 24 bytes of 8 pixels are read as two overlapping 16-byte halves,
  // bytes 0-15 and 8-23; each half's four pixels are spread to R G B 0 and
  // summed as 3R + 6G + B by two multiply-adds.
  static void MaskRow(const uint8_t* src, uint32_t groups, uint8_t* bits) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                            4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
    const __m256i weights = _mm256_set1_epi32(0x00010603);  // bytes 3, 6, 1, 0
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i darkest = _mm256_set1_epi32(1279);
    for (uint32_t k = 0; k < groups; ++k, src += kCellBytes) {
      const __m256i raw = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(src + 8),
                                              reinterpret_cast<const __m128i*>(src));
      const __m256i rgb = _mm256_shuffle_epi8(raw, spread);
      const __m256i sum = _mm256_madd_epi16(_mm256_maddubs_epi16(rgb, weights), ones);
      const __m256i light = _mm256_cmpgt_epi32(sum, darkest);
      bits[k] = static_cast<uint8_t>(_mm256_movemask_ps(_mm256_castsi256_ps(light)));
    }
  }

  // Four row bytes (32 pixels, 96 samples) per step: each sample picks its
  // pixel's row byte by a shuffle and tests its bit.
  static void WidenRow(const FitTables& t, const uint8_t* bits, uint32_t groups, uint8_t* dst, uint8_t value) {
    alignas(32) static const uint8_t kByteOf[3][32] = {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1},
        {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
        {2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}};
    alignas(32) static const uint8_t kBitOf[3][32] = {
        {1, 1, 1, 2, 2, 2, 4, 4, 4, 8, 8, 8, 16, 16, 16, 32, 32, 32, 64, 64, 64, 128, 128, 128,  //
         1, 1, 1, 2, 2, 2, 4, 4},
        {4, 8, 8, 8, 16, 16, 16, 32, 32, 32, 64, 64, 64, 128, 128, 128,  //
         1, 1, 1, 2, 2, 2, 4, 4, 4, 8, 8, 8, 16, 16, 16, 32},
        {32, 32, 64, 64, 64, 128, 128, 128, 1, 1, 1, 2, 2, 2, 4, 4, 4, 8, 8, 8, 16, 16, 16, 32, 32, 32, 64, 64, 64,
         128, 128, 128}};
    const __m256i fill = _mm256_set1_epi8(static_cast<char>(value));
    uint32_t k = 0;
    for (; k + 4 <= groups; k += 4, dst += 4 * kCellBytes) {
      int32_t four;
      std::memcpy(&four, bits + k, sizeof four);
      const __m256i row = _mm256_set1_epi32(four);
      for (int q = 0; q < 3; ++q) {
        const __m256i byteOf = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kByteOf[q]));
        const __m256i bitOf = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kBitOf[q]));
        const __m256i picked = _mm256_and_si256(_mm256_shuffle_epi8(row, byteOf), bitOf);
        const __m256i set = _mm256_cmpeq_epi8(picked, bitOf);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32 * q), _mm256_and_si256(set, fill));
      }
    }
    for (; k < groups; ++k, dst += kCellBytes) WidenGroup(t, bits[k], dst, _mm256_castsi256_si128(fill));
  }

  static void DrawInner(uint8_t* dst, const uint8_t* drawn) { DrawInner32(dst, drawn); }

  static int BestGlyph(const FitTables& t, const CellRows& rows, uint32_t n) {
    constexpr int kVectors = kGlyphLanes / 32;
    __m256i sum[kVectors];
    for (int v = 0; v < kVectors; ++v)
      sum[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.bias + 32 * v));
    for (int i = 0; i < kGlyphHeight; ++i) {
      const uint8_t* gain = t.rowGain[i][rows[i][n]];
      for (int v = 0; v < kVectors; ++v)
        sum[v] = _mm256_add_epi8(sum[v], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(gain + 32 * v)));
    }
    __m256i top = _mm256_max_epu8(_mm256_max_epu8(sum[0], sum[1]), sum[2]);
    top = _mm256_broadcastb_epi8(MaxByte(_mm_max_epu8(_mm256_castsi256_si128(top), _mm256_extracti128_si256(top, 1))));
    for (int v = 0;; ++v) {
      const unsigned hits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(sum[v], top)));
      if (hits != 0) return 32 * v + __builtin_ctz(hits);
    }
  }
};

}  // namespace

void FitAvx2(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  FitCells<Avx2>(pixels, width, height, rowBytes);
}
