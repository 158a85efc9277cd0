#include "fit/FitGlyphs.h"

#include "fit/Kernels.h"

void FitGlyphs(uint8_t* pixels, VRect rect, int32_t rowBytes) {
  const uint32_t width = static_cast<uint32_t>(rect.right) - static_cast<uint32_t>(rect.left);
  const uint32_t height = static_cast<uint32_t>(rect.bottom) - static_cast<uint32_t>(rect.top);
  ChosenFitKernel().fit(pixels, width, height, rowBytes);
}
