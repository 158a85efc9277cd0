// The only code that touches the host's rectangles and points: each accessor
// picks the 16- or 32-bit form in use at the moment of the call.
#pragma once

#include "abi/HostTypes.h"

bool Using32BitCoordinates();

VPoint GetImageSize();
VRect GetFilterRect();
VRect GetInRect();
VRect GetOutRect();
VRect GetMaskRect();
VPoint GetFloatCoord();
VPoint GetWholeSize();
void SetInRect(VRect r);
void SetOutRect(VRect r);
void SetMaskRect(VRect r);
