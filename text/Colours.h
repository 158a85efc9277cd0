// The art in the photo's colours: each glyph takes the mean colour of its
// cell as it was before the filter drew over it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/HostTypes.h"
#include "io/Image.h"

namespace gm::text {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// The rounded mean of each 8 x 12 cell's colour samples in the area, row by
// row, the cells the drawn text covers; alpha plays no part.
std::vector<Rgb> CellColours(const Image& image, VRect area);

// The text with 24-bit terminal colour: an escape only where the colour
// changes, and a reset at the end of every line. `colours` holds one entry
// per character other than the line feeds.
std::string AnsiText(const std::string& text, const std::vector<Rgb>& colours);

// A self-contained page: black, monospace, one <pre> whose text is `text`,
// each run of one colour in one element.
std::string HtmlPage(const std::string& text, const std::vector<Rgb>& colours, const std::string& title);

}  // namespace gm::text
