// Turns an image the way its EXIF orientation says viewers show it.
#pragma once

#include "io/Image.h"

namespace gm::io {

// Orientations 5 to 8 show the stored rows as columns.
bool SwapsAxes(int orientation);

// The image as viewers show it: 2 mirrored, 3 turned half round, 4 flipped,
// 5 transposed, 6 turned a quarter clockwise, 7 transposed the other way,
// 8 turned a quarter anticlockwise. 1, or anything else, leaves it as stored.
// Flips work in place; the others need a second image of the same size.
Image Orient(Image image, int orientation);

}  // namespace gm::io
