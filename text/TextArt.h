// Reads back the text the plug-in drew: every drawn cell holds exactly one
// glyph's pattern (192 on stroke, 0 elsewhere), and no two glyphs are alike,
// so each cell names its character without any second fitting.
#pragma once

#include <optional>
#include <string>

#include "abi/HostTypes.h"
#include "io/Image.h"

namespace gm::text {

// The character drawn in the 8 x 12 cell at (left, top), or nothing when the
// cell is not a drawn glyph.
std::optional<char> ReadCell(const Image& image, int32_t left, int32_t top);

// One line per cell row of the area, each (area width / 8) characters and "\n".
// Throws std::runtime_error when a cell holds no glyph.
std::string ReadDrawnText(const Image& image, VRect area);

}  // namespace gm::text
