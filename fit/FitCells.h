// The cell walk every fast variant shares. Each variant includes this from its
// own source file, compiled for its own instruction set, and supplies its
// steps as static members of a struct:
//   MaskRow(src, groups, bits)     threshold 8·groups pixels into row bytes
//                                  (bit j of bits[k] = pixel 8k + j is light);
//   WidenRow(t, bits, groups, dst, v) write 8·groups pixels: v where the bit is
//                                  set, 0 elsewhere, on all three samples;
//   BestGlyph(t, rows, n)          the glyph the plain kernel picks for the cell
//                                  whose row bytes are rows[0..11][n];
//   SameAsLeft(rows, cells)        which cells repeat the one before them
//                                  (bit n for cell n); 1 <= cells <= 64;
//   DrawInner(dst, drawn)          copy a drawn glyph row to a cell that is
//                                  not the last of its chunk.
// Each step reads and writes exactly the pixels it is given, never past them.
//
// Everything here has internal linkage: each variant gets its own copy, so the
// linker can never hand one instruction set's code to another's caller.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fit/FitGlyphs.h"
#include "fit/FitTables.h"
#include "fit/GlyphTable.h"

namespace {

constexpr std::ptrdiff_t kCellBytes = kGlyphWidth * kBytesPerPixel;  // one row of a cell
// Cells handled per pass over a band, at most 64 (one bit each in a mask):
// 12 rows × 64 cells of pixels (18 KiB) stay in the first-level cache
// between thresholding and drawing.
constexpr uint32_t kChunkCells = 64;

// Row i of a chunk's cells: byte n holds the light pixels of that row of
// cell n. The spare bytes let a variant read a whole vector past the end.
using CellRows = uint8_t[kGlyphHeight][kChunkCells + 16];

// The helpers below are templates only so that a variant that does not use
// one gets no unused-function warning.

// The single-precision weights 0.3, 0.6 and 0.1 each lie just above their
// decimal value, which makes the plain kernel's truncated weighted sum exceed
// 127 for exactly the colours that pass this integer test.
template <typename = void>
bool IsLight(const uint8_t* p) {
  return 3u * p[0] + 6u * p[1] + p[2] >= 1280u;
}

// Pixel-by-pixel threshold in place, for the few pixels of a row that do not
// fill a group of 8.
template <typename = void>
void ThresholdPixelsInPlace(uint8_t* p, uint32_t count) {
  for (uint32_t x = 0; x < count; ++x, p += kBytesPerPixel) {
    const uint8_t level = IsLight(p) ? 255 : 0;
    p[0] = p[1] = p[2] = level;
  }
}

template <typename = void>
void MaskRowScalar(const uint8_t* src, uint32_t groups, uint8_t* bits) {
  for (uint32_t k = 0; k < groups; ++k, src += kCellBytes) {
    unsigned b = 0;
    for (unsigned j = 0; j < 8; ++j) b |= static_cast<unsigned>(IsLight(src + kBytesPerPixel * j)) << j;
    bits[k] = static_cast<uint8_t>(b);
  }
}

// Index of the first largest of count unsigned bytes.
template <typename = void>
int FirstMaxIndex(const uint8_t* v, int count) {
  int best = 0;
  for (int g = 1; g < count; ++g) {
    if (v[g] > v[best]) best = g;
  }
  return best;
}

template <class Isa>
void ThresholdRun(const FitTables& t, uint8_t* p, uint32_t pixels) {
  uint8_t bits[kChunkCells];
  while (pixels >= 8) {
    const uint32_t groups = pixels / 8 < kChunkCells ? pixels / 8 : kChunkCells;
    Isa::MaskRow(p, groups, bits);
    Isa::WidenRow(t, bits, groups, p, 255);
    p += groups * kCellBytes;
    pixels -= groups * 8;
  }
  ThresholdPixelsInPlace(p, pixels);
}

// Bit n (n ≥ 1) set when cell n has the same 12 row bytes as cell n − 1.
template <typename = void>
uint64_t SameAsLeftScalar(const CellRows& rows, uint32_t cells) {
  assert(cells >= 1 && cells <= kChunkCells);
  uint64_t same = 0;
  for (uint32_t n = 1; n < cells; ++n) {
    bool equal = true;
    for (int i = 0; i < kGlyphHeight && equal; ++i) equal = rows[i][n] == rows[i][n - 1];
    same |= uint64_t{equal} << n;
  }
  return same;
}

// `same` has bit n set where row byte n + 1 equals row byte n in every row;
// moved to the later cell's bit, and kept only where both cells are real.
// Needs 1 <= cells <= 64.
inline uint64_t RealPairs(uint64_t same, uint32_t cells) {
  assert(cells >= 1 && cells <= kChunkCells);
  return (same << 1) & ((uint64_t{1} << (cells - 1) << 1) - 1) & ~uint64_t{1};
}

// Thresholds, scores and draws 1 to kChunkCells cells of one band of 12 rows
// in a single pass over their pixels. The bounds are the masks' width and
// the last cell's index: SameAsLeft shifts by cells − 1.
// Twelve rows at a time are more streams than the hardware prefetcher
// follows, so each chunk asks for the pixels of the next one: `ahead` bytes
// of each of the 12 rows starting at `next` (never past their pixels).
template <class Isa>
void FitChunk(const FitTables& t, uint8_t* first, int32_t rowBytes, uint32_t cells, const uint8_t* next,
              std::ptrdiff_t ahead) {
  assert(cells >= 1 && cells <= kChunkCells);
  CellRows rows;
  uint8_t best[kChunkCells];
  uint8_t* row = first;
  for (int i = 0; i < kGlyphHeight; ++i, row += rowBytes, next += rowBytes) {
    for (std::ptrdiff_t b = 0; b < ahead; b += 64) __builtin_prefetch(next + b, 1);
    Isa::MaskRow(row, cells, rows[i]);
  }

  // Neighbouring cells of a photo are often alike (flat sky, shadow), so a
  // cell equal to the previous one takes its glyph without scoring. The
  // spare bytes are cleared so that a variant comparing whole vectors reads
  // only defined values.
  for (int i = 0; i < kGlyphHeight; ++i) std::memset(rows[i] + cells, 0, sizeof rows[i] - cells);
  const uint64_t same = Isa::SameAsLeft(rows, cells);
  int glyph = 0;
  for (uint32_t n = 0; n < cells; ++n) {
    if (!((same >> n) & 1)) glyph = Isa::BestGlyph(t, rows, n);
    best[n] = static_cast<uint8_t>(glyph);
  }

  // Left to right, so that a variant may store a whole vector for a cell's
  // 24 bytes: the surplus lands on the next cell, which is drawn after it.
  row = first;
  for (int i = 0; i < kGlyphHeight; ++i, row += rowBytes) {
    uint8_t* cell = row;
    for (uint32_t n = 0; n + 1 < cells; ++n, cell += kCellBytes) Isa::DrawInner(cell, t.drawn[best[n]][i]);
    std::memcpy(cell, t.drawn[best[cells - 1]][i], kCellBytes);
  }
}

template <class Isa>
void FitCells(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  const uint32_t cellColumns = width / kGlyphWidth;
  const uint32_t cellRows = height / kGlyphHeight;
  const uint32_t strip = width % kGlyphWidth;
  const std::ptrdiff_t bandBytes = static_cast<std::ptrdiff_t>(rowBytes) * kGlyphHeight;
  const FitTables& t = GetFitTables();

  uint8_t* band = pixels;
  for (uint32_t m = 0; m < cellRows; ++m, band += bandBytes) {
    for (uint32_t n = 0; n < cellColumns; n += kChunkCells) {
      const uint32_t cells = cellColumns - n < kChunkCells ? cellColumns - n : kChunkCells;
      uint8_t* chunk = band + static_cast<std::ptrdiff_t>(n) * kCellBytes;
      // The next chunk along this band, or else the first of the next band.
      uint32_t nextCells = cellColumns - n - cells;
      const uint8_t* next = chunk + static_cast<std::ptrdiff_t>(cells) * kCellBytes;
      if (nextCells == 0 && m + 1 < cellRows) {
        nextCells = cellColumns;
        next = band + bandBytes;
      }
      nextCells = nextCells < kChunkCells ? nextCells : kChunkCells;
      FitChunk<Isa>(t, chunk, rowBytes, cells, next, static_cast<std::ptrdiff_t>(nextCells) * kCellBytes);
    }
    if (strip != 0) {
      uint8_t* row = band + static_cast<std::ptrdiff_t>(cellColumns) * kCellBytes;
      for (int i = 0; i < kGlyphHeight; ++i, row += rowBytes) ThresholdPixelsInPlace(row, strip);
    }
  }
  uint8_t* row = band;
  for (uint32_t y = cellRows * kGlyphHeight; y < height; ++y, row += rowBytes) ThresholdRun<Isa>(t, row, width);
}

}  // namespace
