#include "fit/FitGlyphs.h"

void FitGlyphs(uint8_t* pixels, VRect rect, int32_t rowBytes) { FitGlyphsPlain(pixels, rect, rowBytes); }
