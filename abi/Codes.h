// The numbers a host and a filter module exchange: phase selectors, result
// codes, filter cases and image modes.
#pragma once

#include <cstdint>

#include "abi/HostTypes.h"

// Phases, in the order a host calls them; About stands alone.
constexpr int16_t filterSelectorAbout = 0;
constexpr int16_t filterSelectorParameters = 1;
constexpr int16_t filterSelectorPrepare = 2;
constexpr int16_t filterSelectorStart = 3;
constexpr int16_t filterSelectorContinue = 4;
constexpr int16_t filterSelectorFinish = 5;

// Results of a phase, of a host callback and of the basic suite's block
// functions (which widen them to 32 bits).
constexpr OSErr noErr = 0;
constexpr OSErr paramErr = -50;
constexpr OSErr memFullErr = -108;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr filterBadParameters = -30100;

// Results of the property suite: the module reports an empty or missing
// value as kMissingData; a host refuses an unknown property or vendor.
constexpr OSErr kMissingData = -30900;
constexpr OSErr kPropertyUndefined = -30901;
constexpr OSErr kPropertyBadVendor = -30902;

// The basic suite's answer for a suite name and version it does not offer.
constexpr int32_t kSuiteNotFound = 0x53214664;  // 'S!Fd'

// FilterRecord::filterCase. The flat cases, numbered below the floating
// selection, count their planes in FilterRecord::planes; every later case
// describes a layer, whose colour planes are outLayerPlanes.
constexpr int16_t filterCaseFlatImageNoSelection = 1;
constexpr int16_t filterCaseFlatImageWithSelection = 2;
constexpr int16_t filterCaseFloatingSelection = 3;
constexpr int16_t filterCaseEditableTransparencyNoSelection = 4;
constexpr int16_t filterCaseEditableTransparencyWithSelection = 5;
constexpr int16_t filterCaseProtectedTransparencyNoSelection = 6;
constexpr int16_t filterCaseProtectedTransparencyWithSelection = 7;

// FilterRecord::imageMode.
constexpr int16_t kImageModeRGB = 3;
