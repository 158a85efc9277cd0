// The glyph-fitting kernel: thresholds a rectangle of interleaved 8-bit RGB
// pixels, cuts it into 8 x 12 cells from its top-left corner and redraws each
// whole cell, in place, with the glyph that fits it best. fit/Kernels.h lists
// its variants.
#pragma once

#include <cstdint>

// Samples of a pixel, R, G and B in that order, one byte each.
constexpr int kBytesPerPixel = 3;

// The fastest variant this processor supports. width and height are pixel
// counts; rowBytes may be padded or negative (rows bottom-up).
void FitGlyphs(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
