// Image files in and out, by a table of formats like the kernel's table of
// variants: each row recognises its format by the first bytes, decodes it,
// and encodes it where the tool writes that format. Decoders fill one
// gm::Image (RGB or RGBA, 8-bit) and nothing else of full size; encoders
// stream it out row by row.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "io/Decode.h"
#include "io/Image.h"
#include "io/Source.h"

namespace gm::io {

struct EncodeRequest {
  int jpegQuality = 95;
  CancelCheck cancel;
};

struct Codec {
  const char* title;          // as messages name it: "PNG"
  const char* name;           // as --format names it: "png"
  const char* extensions[3];  // lower case, without the dot; `name` is accepted too
  bool alpha;                 // whether the written file keeps an alpha channel
  // Whether the file's first bytes are this format's.
  bool (*sniff)(std::span<const uint8_t> head);
  // Grey becomes R = G = B, deeper samples 8-bit by rounding, associated
  // alpha unassociated, other alpha as stored; the EXIF orientation is
  // noted, not applied.
  Image (*decode)(Source& source, const DecodeRequest& request);
  // Writes to an open descriptor; `file` names it in errors. Null for a
  // format that is only read. `grey` when every pixel has R = G = B.
  void (*encode)(const Image& image, bool grey, int fd, const std::string& file, const EncodeRequest& request);
};

// How many leading bytes every format's sniff needs at most.
inline constexpr size_t kSniffBytes = 16;

std::span<const Codec* const> Codecs();
const Codec* SniffFormat(std::span<const uint8_t> head);
// By --format's name or an extension, case-insensitive; writable formats only.
const Codec* CodecNamed(std::string_view name);
const Codec* CodecForPath(const std::string& path);
// "PNG, JPEG or TIFF"; ".png, .jpg, .jpeg, .tif or .tiff"; "png, jpeg or tiff".
std::string ReadableTitles();
std::string WritableExtensions();
std::string WritableNames();
// ".png or .tif": the first extension of each format that keeps alpha.
std::string AlphaExtensions();

// Decodes by content, whatever the extension says.
Image Decode(Source& source, const DecodeRequest& request);
// A file by name; "-" is standard input.
Image DecodeFile(const std::string& path, const DecodeRequest& request);

// True when every pixel has R = G = B: such an image is written as greyscale.
bool IsGrey(const Image& image);
void Encode(const Image& image, const Codec& codec, int fd, const std::string& file, const EncodeRequest& request);

}  // namespace gm::io
