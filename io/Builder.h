// Where a decoder's rows go. Unscaled, into the image itself, as they
// arrive; scaled, through the area averager, so that only the scaled image
// and a band of rows are held. A decoder that cannot deliver rows top to
// bottom (interlaced, planes one after another) gets the whole image,
// scaled at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "io/Decode.h"
#include "io/Image.h"
#include "io/Scale.h"

namespace gm::io {

class ImageBuilder {
 public:
  // Checks the limits against what will be held.
  ImageBuilder(const std::string& file, uint32_t width, uint32_t height, int channels, std::optional<Size> scaled,
               bool inOrder, const DecodeLimits& limits);
  // Room for rows [top, end) of the decoded image, `RowBytes()` apart. In
  // order, each call starts where the last `Done` ended.
  uint8_t* Rows(uint32_t top, uint32_t end);
  // Rows before `end` are final.
  void Done(uint32_t end);
  Image Finish();

  int Channels() const { return image_.channels; }
  size_t RowBytes() const { return image_.RowBytes(); }

 private:
  Image image_;  // the whole image, or only its width and channels when streaming
  std::optional<Size> scaled_;
  std::optional<AreaScaler> scaler_;
  PixelBuffer band_;
  uint32_t bandTop_ = 0;
};

}  // namespace gm::io
