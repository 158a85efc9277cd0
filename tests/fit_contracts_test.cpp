// The cell walk's bounds on a chunk: 1 to 64 cells, one bit each in a mask.
// Its own file: fit/FitCells.h gives each file that includes it a private copy.
#include <gtest/gtest.h>

#include <cstdint>

#include "fit/FitCells.h"

namespace {

// Rows where every cell repeats the one before it.
CellRows& Uniform() {
  static CellRows rows{};
  return rows;
}

struct NoSteps {
  static void MaskRow(const uint8_t*, uint32_t, uint8_t*) {}
  static uint64_t SameAsLeft(const CellRows&, uint32_t) { return 0; }
  static int BestGlyph(const FitTables&, const CellRows&, uint32_t) { return 0; }
  static void DrawInner(uint8_t*, const uint8_t*) {}
};

TEST(KernelContract, RepeatMasksAtTheEndsOfTheRange) {
  struct Case {
    uint32_t cells;
    uint64_t repeats;  // every cell but the first repeats its left neighbour
  };
  const Case cases[] = {{1, 0}, {2, 0b10}, {63, (~uint64_t{0} >> 1) & ~uint64_t{1}}, {64, ~uint64_t{1}}};
  for (const Case& c : cases) {
    EXPECT_EQ(SameAsLeftScalar(Uniform(), c.cells), c.repeats) << c.cells;
    // Bit n of the vector compare says cell n + 1 repeats cell n.
    EXPECT_EQ(RealPairs(~uint64_t{0}, c.cells), c.repeats) << c.cells;
  }
}

TEST(KernelContract, ChunksOutsideOneTo64CellsStopInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "the bounds are checked in debug builds only";
#else
  uint8_t pixels[kGlyphHeight][kCellBytes] = {};
  for (const uint32_t cells : {0u, kChunkCells + 1}) {
    EXPECT_DEATH(SameAsLeftScalar(Uniform(), cells), "cells") << cells;
    EXPECT_DEATH(FitChunk<NoSteps>(GetFitTables(), pixels[0], kCellBytes, cells, pixels[0], 0), "cells") << cells;
    EXPECT_DEATH(RealPairs(~uint64_t{0}, cells), "cells") << cells;
  }
#endif
}

}  // namespace
