// The filter's only font: 95 one-bit glyphs, 8 x 12, for codes 32 to 126.
#pragma once

#include <cstdint>

constexpr int kGlyphCount = 95;
constexpr int kGlyphWidth = 8;
constexpr int kGlyphHeight = 12;
constexpr int kFirstGlyphCode = 32;

extern const uint8_t GlyphTable[kGlyphCount][kGlyphHeight];
