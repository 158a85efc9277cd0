// Area-averaging resampling: every output pixel is the mean of the input area
// it covers, partly covered input pixels counting by the part covered.
#pragma once

#include <cstdint>
#include <vector>

#include "io/Errors.h"
#include "io/Image.h"

namespace gm::io {

// The width and height that keep the aspect ratio at the given width.
struct Size {
  int32_t width;
  int32_t height;
};
Size ScaledSize(int32_t width, int32_t height, int32_t newWidth);

// Exact integer arithmetic, so the result is the same on every machine and
// whatever order the rows come in; rounds to nearest. Fed one input row at a
// time, top to bottom, so that a decoder can stream into it and the input is
// never held whole: besides the result it keeps three rows of sums.
class AreaScaler {
 public:
  AreaScaler(int32_t inWidth, int32_t inHeight, int channels, Size size);
  void AddRow(const uint8_t* row);
  // The result, once every input row is in.
  Image Take();

 private:
  struct Span {
    int32_t source;
    uint64_t weight;
  };
  void Emit(int32_t outRow, const std::vector<uint64_t>& sums);

  int32_t inWidth_, inHeight_;
  size_t channels_;
  Size size_;
  std::vector<std::vector<Span>> columns_;  // the input pixels each output column covers
  std::vector<uint64_t> across_;            // the current input row, averaged across
  std::vector<uint64_t> pending_;           // sums of the output row the next input row continues
  std::vector<uint64_t> fresh_;
  int32_t nextRow_ = 0;
  int32_t pendingRow_ = -1;
  Image result_;
};

Image AreaScale(const Image& source, Size size, const CancelCheck& cancel = {});

}  // namespace gm::io
