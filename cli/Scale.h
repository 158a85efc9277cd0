// Area-averaging resampling: every output pixel is the mean of the input area
// it covers, partly covered input pixels counting by the part covered.
#pragma once

#include <cstdint>

#include "cli/Failure.h"
#include "host/Image.h"

namespace gm::cli {

// The width and height that keep the aspect ratio at the given width.
struct Size {
  int32_t width;
  int32_t height;
};
Size ScaledSize(int32_t width, int32_t height, int32_t newWidth);

// Exact integer arithmetic, so the result is the same on every machine;
// rounds to nearest. Works one input row at a time: the only buffers besides
// the result are two rows of the result's width.
Image AreaScale(const Image& source, Size size, const CancelCheck& cancel = {});

}  // namespace gm::cli
