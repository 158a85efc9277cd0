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
  // Pixels read when only a scaled image is held: the memory limit no longer
  // bounds them, and this bounds the time (about 40 s of decoding).
  uint64_t maxStreamedPixels = uint64_t{1} << 32;
};

// A width fitted to a terminal enlarges at most this much: one cell per
// stored pixel, past which the art only repeats the pixel.
inline constexpr int kMaxFittedEnlargement = 8;

// The size to decode to. It is settled only once the header is read: the
// stored size is known then, and so is an orientation that swaps the axes.
struct ScaleRequest {
  int32_t width = 0;         // pixels across the scaled image; 0 keeps the stored size
  bool alongHeight = false;  // `width` counts along the stored image's height
  bool upright = false;      // `width` counts across the image as its orientation shows it
  bool fitted = false;       // `width` is room to fill, not a wish: capped by kMaxFittedEnlargement
  std::optional<Size> Resolve(uint32_t storedWidth, uint32_t storedHeight, int orientation = 1) const;
};

struct DecodeRequest {
  DecodeRequest(DecodeLimits limits = {}, CancelCheck cancel = {}, ScaleRequest scale = {})
      : limits(limits), cancel(std::move(cancel)), scale(scale) {}
  DecodeLimits limits;
  CancelCheck cancel;
  ScaleRequest scale;
  int32_t frame = 0;  // of an animation, counting from 0; a still image has frame 0 only
  bool Cancelled() const { return cancel && cancel(); }
};

// Refuses an image without pixels or over the filter's limit on a side.
void CheckSides(const std::string& file, uint64_t width, uint64_t height, const DecodeLimits& limits,
                const char* what = "the image");
// Refuses, before anything is allocated, an image the caller will not hold:
// over the limits, or more than the process can have at all.
void CheckDimensions(const std::string& file, uint64_t width, uint64_t height, int channels,
                     const DecodeLimits& limits, const char* what = "the image");
// Refuses, before decoding, what a decoder (or its library) would hold
// besides the image: `what` names it, as in "the decoder's buffers".
void CheckMemory(const std::string& file, uint64_t bytes, const char* what, const DecodeLimits& limits);

// The most memory this process can have: the machine's memory and swap, its
// control group's limit, its address-space and data limits, the least of them.
uint64_t ProcessMemory();

}  // namespace gm::io
