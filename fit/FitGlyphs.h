// The glyph-fitting kernel: thresholds a rectangle of interleaved 8-bit RGB
// pixels, cuts it into 8 x 12 cells from its top-left corner and redraws each
// whole cell, in place, with the glyph that fits it best.
#pragma once

#include <cstdint>

#include "abi/HostTypes.h"
#include "fit/GlyphTable.h"

// The kernel the filter runs: the fastest variant this processor supports.
void FitGlyphs(uint8_t* pixels, VRect rect, int32_t rowBytes);

// The plain algorithm, step by step. It is the reference every faster
// variant must match byte for byte.
void FitGlyphsPlain(uint8_t* pixels, VRect rect, int32_t rowBytes);
void ThresholdPixels(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
void ScoreCell(const uint8_t* cell, int32_t rowBytes, int32_t scores[kGlyphCount]);
int PickBestGlyph(const int32_t scores[kGlyphCount]);
void DrawGlyph(uint8_t* cell, int32_t rowBytes, int glyph);
