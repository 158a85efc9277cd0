// A drawable's pixels on their way through the filter and back. The filter
// takes 8-bit R'G'B'; a layer may be 8, 16 or 32 bits per channel, gamma or
// linear, with or without alpha. Colour goes through R'G'B' u8 in the
// layer's own space; alpha never leaves the layer's own format, so it comes
// back exactly as it was at every precision.
//
// Only the box (the selection's bounding box) is read and written, a strip
// of rows at a time: memory follows the box's width, not the layer, and each
// of GIMP's tiles crosses between GIMP and the plug-in once each way.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>
#include <functional>
#include <string>

#include "abi/HostTypes.h"
#include "io/Image.h"

namespace gm::gimp {

// Filters `area` of `rows` in place; a non-empty answer is why it failed.
// The area's top is always a whole number of cells below the box's top.
using StripFilter = std::function<std::string(Image& rows, const VRect& area)>;

// Reads, filters and writes the box (in the drawable's coordinates) through
// the shadow buffer, then has GIMP merge it, which applies it through the
// selection and records one undo step. Empty on success, else the one line
// that says what failed; nothing is merged then.
std::string FilterBox(gint32 drawable, const GeglRectangle& box, const StripFilter& filter);

}  // namespace gm::gimp
