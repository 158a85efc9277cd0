#include "fit/FitGlyphs.h"

#include "fit/Kernels.h"

void FitGlyphs(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  ChosenFitKernel().fit(pixels, width, height, rowBytes);
}
