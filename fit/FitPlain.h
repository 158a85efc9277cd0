// The plain algorithm, step by step: the reference every faster variant must
// match byte for byte, and the steps its tests check one at a time.
#pragma once

#include <cstdint>

#include "fit/GlyphTable.h"

void FitGlyphsPlain(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
void ThresholdPixels(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
void ScoreCell(const uint8_t* cell, int32_t rowBytes, int32_t scores[kGlyphCount]);
int PickBestGlyph(const int32_t scores[kGlyphCount]);
void DrawGlyph(uint8_t* cell, int32_t rowBytes, int glyph);
