// Image files in and out. Decoders fill one gm::Image (RGB or RGBA, 8-bit)
// and nothing else of full size; encoders stream it out row by row.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "cli/Failure.h"
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

// Decodes by content, whatever the extension says. Grey becomes R = G = B,
// 16-bit samples become 8-bit by rounding, alpha is kept as stored; the EXIF
// orientation is noted, not applied. "-" is standard input.
Image DecodeImage(const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel);
// A file that cannot seek, of which `head` has been read already. PNG and
// JPEG stream; TIFF is read into memory first, within the memory limit.
Image DecodeStream(int fd, std::span<const uint8_t> head, Format format, const std::string& path,
                   const DecodeLimits& limits, const CancelCheck& cancel);
Image DecodePng(std::FILE* file, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel);
Image DecodeJpeg(std::FILE* file, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel);
Image DecodeTiff(int fd, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel);

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
