#include "entry/Coordinates.h"

#include "entry/Entry.h"

// Each accessor is one row: the 32-bit field and its 16-bit twin. The
// templates below hold the single copy of the selection and conversion rule.
namespace {

BigDocumentStruct* BigDocumentInUse() {
  BigDocumentStruct* big = hostFilterRecord->bigDocumentData;
  return big && big->PluginUsing32BitCoordinates != 0 ? big : nullptr;
}

template <VRect BigDocumentStruct::*Big, Rect FilterRecord::*Small>
VRect GetRect() {
  if (BigDocumentStruct* big = BigDocumentInUse()) return big->*Big;
  const Rect& r = hostFilterRecord->*Small;
  return VRect{r.top, r.left, r.bottom, r.right};
}

template <VRect BigDocumentStruct::*Big, Rect FilterRecord::*Small>
void SetRect(VRect r) {
  if (BigDocumentStruct* big = BigDocumentInUse()) {
    big->*Big = r;
  } else {
    // Low 16 bits only, as the 16-bit form holds them: no clamping.
    hostFilterRecord->*Small = Rect{static_cast<int16_t>(r.top), static_cast<int16_t>(r.left),
                                    static_cast<int16_t>(r.bottom), static_cast<int16_t>(r.right)};
  }
}

template <VPoint BigDocumentStruct::*Big, Point FilterRecord::*Small>
VPoint GetPoint() {
  if (BigDocumentStruct* big = BigDocumentInUse()) return big->*Big;
  const Point& p = hostFilterRecord->*Small;
  return VPoint{p.v, p.h};
}

}  // namespace

bool Using32BitCoordinates() { return BigDocumentInUse() != nullptr; }

VPoint GetImageSize() { return GetPoint<&BigDocumentStruct::imageSize32, &FilterRecord::imageSize>(); }
VRect GetFilterRect() { return GetRect<&BigDocumentStruct::filterRect32, &FilterRecord::filterRect>(); }
VRect GetInRect() { return GetRect<&BigDocumentStruct::inRect32, &FilterRecord::inRect>(); }
VRect GetOutRect() { return GetRect<&BigDocumentStruct::outRect32, &FilterRecord::outRect>(); }
VRect GetMaskRect() { return GetRect<&BigDocumentStruct::maskRect32, &FilterRecord::maskRect>(); }
VPoint GetFloatCoord() { return GetPoint<&BigDocumentStruct::floatCoord32, &FilterRecord::floatCoord>(); }
VPoint GetWholeSize() { return GetPoint<&BigDocumentStruct::wholeSize32, &FilterRecord::wholeSize>(); }
void SetInRect(VRect r) { SetRect<&BigDocumentStruct::inRect32, &FilterRecord::inRect>(r); }
void SetOutRect(VRect r) { SetRect<&BigDocumentStruct::outRect32, &FilterRecord::outRect>(r); }
void SetMaskRect(VRect r) { SetRect<&BigDocumentStruct::maskRect32, &FilterRecord::maskRect>(r); }
