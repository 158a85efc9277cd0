// Steps that the x86 variants compute with the same instructions, kept once.
// Included only by FitSse2.cpp, FitAvx2.cpp and FitAvx512.cpp, after
// fit/FitCells.h; like it, everything here has internal linkage, so each
// variant compiles its own copy for its own instruction set.
#pragma once

#include <emmintrin.h>
#ifdef __AVX2__
#include <immintrin.h>
#endif

#include <cstdint>

#include "fit/FitCells.h"
#include "fit/FitTables.h"

namespace {

// The largest unsigned byte of v, in every byte of the low lane's first
// bytes (byte 0 is the one to read).
inline __m128i MaxByte(__m128i v) {
  v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
  return _mm_max_epu8(v, _mm_srli_si128(v, 1));
}

// One group of 8 pixels from the widening table: value where the bit is
// set, 0 elsewhere, in 16 + 8 bytes so that nothing past the group is written.
inline void WidenGroup(const FitTables& t, uint8_t bits, uint8_t* dst, __m128i fill) {
  const uint8_t* mask = t.widen[bits];
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask));
  const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask + 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_and_si128(a, fill));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_and_si128(b, fill));
}

#ifdef __AVX2__
// A drawn glyph row, padded to 32 bytes, in one store: the 8 bytes past the
// cell land on the next cell, which is drawn after it.
inline void DrawInner32(uint8_t* dst, const uint8_t* drawn) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(drawn)));
}
#endif

}  // namespace
