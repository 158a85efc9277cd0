// Tables the fast kernel variants share, built once from GlyphTable.
#pragma once

#include <cstdint>

#include "fit/FitGlyphs.h"
#include "fit/GlyphTable.h"

// One byte lane per glyph, padded to a whole number of 32-byte vectors.
constexpr int kGlyphLanes = 96;

// A cell's light pixels are 12 row bytes L[i] (bit j = column j). With G[g]
// the glyph's bits, its score is 2|G∩L| + |¬G∩¬L| = 3|G∩L| − |G| + 96 − |L|,
// so the plain pick (first strict maximum) is the first maximum of
//   bias[g] + Σ_i rowGain[i][L[i]][g],   bias = 45 − |G|,  rowGain = 3·|G[i] ∩ L[i]|,
// which stays within 0..135 and so adds up in unsigned bytes. The padding
// lane 95 is always 0, below the space glyph's 45, and never wins.
struct alignas(64) FitTables {
  uint8_t rowGain[kGlyphHeight][256][kGlyphLanes];
  uint8_t bias[kGlyphLanes];
  // Byte mask that widens a row byte to 8 pixels of 3 samples: 0xFF where
  // the bit is set.
  uint8_t widen[256][kGlyphWidth * kBytesPerPixel];
  // Each glyph row as drawn: 8 pixels of 3 samples, 192 on strokes, 0
  // elsewhere, padded to 32 bytes so a variant may copy a whole vector.
  alignas(32) uint8_t drawn[kGlyphCount][kGlyphHeight][32];
};

const FitTables& GetFitTables();
