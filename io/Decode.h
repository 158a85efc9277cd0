// What a caller asks of a decode: the limits it must keep, the size to
// decode to, and how to tell that the user wants to stop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "io/Errors.h"
#include "io/Scale.h"

namespace gm::io {

struct DecodeLimits {
  int64_t maxDimension = 2'000'000;    // the plug-in's own size limit, each direction
  uint64_t maxBytes = uint64_t{4} << 30;  // decoded pixels plus the decoder's own buffers
};

// The size to decode to. It is settled only once the header is read: the
// stored size is known then, and so is an orientation that swaps the axes.
struct ScaleRequest {
  int32_t width = 0;         // pixels across the scaled image; 0 keeps the stored size
  bool alongHeight = false;  // `width` counts along the stored image's height
  bool upright = false;      // `width` counts across the image as its orientation shows it
  std::optional<Size> Resolve(uint32_t storedWidth, uint32_t storedHeight, int orientation = 1) const;
};

struct DecodeRequest {
  DecodeRequest(DecodeLimits limits = {}, CancelCheck cancel = {}, ScaleRequest scale = {})
      : limits(limits), cancel(std::move(cancel)), scale(scale) {}
  DecodeLimits limits;
  CancelCheck cancel;
  ScaleRequest scale;
  bool Cancelled() const { return cancel && cancel(); }
};

// Refuses, before anything is allocated, an image the caller will not hold.
void CheckDimensions(const std::string& file, uint64_t width, uint64_t height, int channels,
                     const DecodeLimits& limits);
// Refuses, before decoding, what a decoder (or its library) would hold
// besides the image: `what` names it, as in "the decoder's buffers".
void CheckMemory(const std::string& file, uint64_t bytes, const char* what, const DecodeLimits& limits);

}  // namespace gm::io
