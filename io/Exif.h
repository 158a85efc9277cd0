// The one thing the tool takes from a photo's EXIF block: which way up it is.
#pragma once

#include <cstdint>
#include <span>

namespace gm::io {

// The orientation tag of the block's first directory, 1 to 8; 1 (rows as
// stored) when the block is missing, damaged or names no valid orientation.
// Takes the TIFF-structured block with or without the "Exif\0\0" prefix that
// JPEG files put in front of it.
int ExifOrientation(std::span<const uint8_t> block);

}  // namespace gm::io
