#include "resources/PropertyList.h"

#include "PropertyListData.inc"

std::span<const uint8_t> PropertyListBytes(bool win64) {
  if (win64) return kPropertyListWin64;
  return kPropertyListWin32;
}
