// Image files in and out. Decoders fill one gm::Image (RGB or RGBA, 8-bit)
// and nothing else of full size; encoders stream it out row by row.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "cli/Failure.h"
#include "cli/Scale.h"
#include "host/Image.h"

namespace gm::cli {

enum class Format { Png, Jpeg, Tiff };

struct DecodeLimits {
  int64_t maxDimension = 2'000'000;    // the plug-in's own size limit, each direction
  uint64_t maxBytes = uint64_t{4} << 30;  // decoded pixels plus the decoder's own buffers
};

std::optional<Format> SniffFormat(std::span<const uint8_t> head);
std::optional<Format> FormatFromExtension(const std::string& path);
std::optional<Format> FormatFromName(const std::string& name);  // png, tif, tiff, jpg, jpeg
const char* FormatName(Format format);

// Refuses, before anything is allocated, an image the tool will not hold.
void CheckDimensions(const std::string& path, uint64_t width, uint64_t height, int channels,
                     const DecodeLimits& limits);

// The decoded image's memory is reserved whole but committed a band of rows at
// a time, as the file delivers them: a tiny file that claims a huge image
// fails at its first missing row having cost address space, not memory.
Image ReserveImage(uint32_t width, uint32_t height, int channels);
// Commits rows up to `end` (exclusive) and returns the start of row `top`.
uint8_t* CommitRows(Image& image, uint32_t top, uint32_t end);

// The size to decode to. It is settled only once the header is read: the
// stored size is known then, and so is an orientation that swaps the axes.
struct ScaleRequest {
  int32_t width = 0;         // pixels across the scaled image; 0 keeps the stored size
  bool alongHeight = false;  // `width` counts along the stored image's height
  bool upright = false;      // `width` counts across the image as its orientation shows it
  std::optional<Size> Resolve(uint32_t storedWidth, uint32_t storedHeight, int orientation = 1) const;
};

// Where a decoder's rows go. Unscaled, into the image itself, committed as
// they arrive; scaled, through the area averager, so that only the scaled
// image and a band of rows are held. A decoder that cannot deliver rows top
// to bottom (interlaced, planes one after another) gets the whole image,
// scaled at the end.
class ImageBuilder {
 public:
  // Checks the limits against what will be held.
  ImageBuilder(const std::string& path, uint32_t width, uint32_t height, int channels, std::optional<Size> scaled,
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

// Decodes by content, whatever the extension says. Grey becomes R = G = B,
// 16-bit samples become 8-bit by rounding, associated alpha becomes
// unassociated, other alpha is kept as stored; the EXIF orientation is noted,
// not applied. "-" is standard input.
Image DecodeImage(const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                  const ScaleRequest& scale = {});
// A file that cannot seek, of which `head` has been read already. PNG and
// JPEG stream; TIFF is read into memory first, within the memory limit.
Image DecodeStream(int fd, std::span<const uint8_t> head, Format format, const std::string& path,
                   const DecodeLimits& limits, const CancelCheck& cancel, const ScaleRequest& scale);
Image DecodePng(std::FILE* file, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                const ScaleRequest& scale);
Image DecodeJpeg(std::FILE* file, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                 const ScaleRequest& scale);
Image DecodeTiff(int fd, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                 const ScaleRequest& scale);

struct EncodeOptions {
  int jpegQuality = 95;
};

// True when every pixel has R = G = B: such an image is written as greyscale.
bool IsGrey(const Image& image);

// Writes the image to an open file; `path` only names it in errors.
void EncodeImage(const Image& image, Format format, int fd, const std::string& path, const EncodeOptions& options,
                 const CancelCheck& cancel);
void EncodePng(const Image& image, bool grey, std::FILE* file, const std::string& path, const CancelCheck& cancel);
void EncodeJpeg(const Image& image, bool grey, std::FILE* file, const std::string& path, int quality,
                const CancelCheck& cancel);
void EncodeTiff(const Image& image, bool grey, int fd, const std::string& path, const CancelCheck& cancel);

}  // namespace gm::cli
