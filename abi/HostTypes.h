// Binary layout of the records a host hands to a filter module. Every offset
// is pinned below for both pointer widths: hosts read these bytes directly,
// so a silent shift of one field breaks the plug-in in every host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/Layout.h"

using Boolean = uint8_t;
using OSErr = int16_t;
using Fixed = int32_t;
using Handle = void*;

struct Point {
  int16_t v, h;
};
struct Rect {
  int16_t top, left, bottom, right;
};
struct RGBColor {
  uint16_t red, green, blue;
};
struct FilterColor {
  uint8_t c[4];
};
struct PlugInMonitor {
  Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
};

// 32-bit coordinates, as a host that offers big documents keeps them; the
// module uses them for every rectangle, whatever form the host offers.
struct VPoint {
  int32_t v, h;
};
struct VRect {
  int32_t top, left, bottom, right;
};

using TestAbortProc = Boolean (*)();
using ProgressProc = void (*)(int32_t done, int32_t total);
using AdvanceStateProc = OSErr (*)();

struct SPBasicSuite {
  int32_t (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  int32_t (*ReleaseSuite)(const char* name, int32_t version);
  int32_t (*IsEqual)(const char* a, const char* b);
  int32_t (*AllocateBlock)(size_t size, void** block);
  int32_t (*FreeBlock)(void* block);
  int32_t (*ReallocateBlock)(void* block, size_t newSize, void** newBlock);
  int32_t (*Undefined)();
};

struct BigDocumentStruct {
  int32_t PluginUsing32BitCoordinates;
  VPoint imageSize32;
  VRect filterRect32;
  VRect inRect32;
  VRect outRect32;
  VRect maskRect32;
  VPoint floatCoord32;
  VPoint wholeSize32;
};

struct AboutRecord {
  void* platformData;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  char reserved[244];
};

#pragma pack(push, 4)
struct FilterRecord {
  // The original record.
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  Point imageSize;
  int16_t planes;
  Rect filterRect;
  RGBColor background, foreground;
  int32_t maxSpace;
  int32_t bufferSpace;
  Rect inRect;
  int16_t inLoPlane, inHiPlane;
  Rect outRect;
  int16_t outLoPlane, outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;

  // Then: masks, floating selections, host identity.
  Boolean isFloating, haveMask, autoMask;
  Rect maskRect;
  void* maskData;
  int32_t maskRowBytes;
  FilterColor backColor, foreColor;
  uint32_t hostSig;
  void* hostProc;
  int16_t imageMode;
  Fixed imageHRes, imageVRes;
  Point floatCoord;
  Point wholeSize;
  PlugInMonitor monitor;
  void* platformData;
  void* bufferProcs;
  void* resourceProcs;
  void* processEvent;
  void* displayPixels;
  void* handleProcs;

  // Then: layers, filter cases and advanceState.
  Boolean supportsDummyChannels, supportsAlternateLayouts;
  int16_t wantLayout;
  int16_t filterCase;
  int16_t dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  Boolean supportsAbsolute, wantsAbsolute;
  void* getPropertyObsolete;
  Boolean cannotUndo, supportsPadding;
  int16_t inputPadding, outputPadding, maskPadding;
  char samplingSupport, reservedByte;
  Fixed inputRate, maskRate;
  void* colorServices;

  // Then: explicit plane layout of layers.
  int16_t inLayerPlanes, inTransparencyMask, inLayerMasks, inInvertedLayerMasks, inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask, outLayerMasks, outInvertedLayerMasks, outNonLayerPlanes;
  int16_t absLayerPlanes, absTransparencyMask, absLayerMasks, absInvertedLayerMasks, absNonLayerPlanes;
  int16_t inPreDummyPlanes, inPostDummyPlanes, outPreDummyPlanes, outPostDummyPlanes;
  int32_t inColumnBytes, inPlaneBytes, outColumnBytes, outPlaneBytes;

  // Then: image services, properties and preferred tiles.
  void* imageServicesProcs;
  void* propertyProcs;
  int16_t inTileHeight, inTileWidth;
  Point inTileOrigin;
  int16_t absTileHeight, absTileWidth;
  Point absTileOrigin;
  int16_t outTileHeight, outTileWidth;
  Point outTileOrigin;
  int16_t maskTileHeight, maskTileWidth;
  Point maskTileOrigin;

  // Then: descriptors, channel ports and the suite architecture.
  void* descriptorParameters;
  void* errorString;
  void* channelPortProcs;
  void* documentInfo;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  int32_t depth;

  // Then: colour profiles.
  Handle iCCprofileData;
  int32_t iCCprofileSize, canUseICCProfiles, hasImageScrap;

  // Last: documents beyond 30,000 pixels.
  BigDocumentStruct* bigDocumentData;
};
#pragma pack(pop)

// Offsets for 4-byte pointers (Win32), then 8-byte pointers (Win64 and native).
GM_PIN(FilterRecord, serialNumber, 0, 0);
GM_PIN(FilterRecord, abortProc, 4, 4);
GM_PIN(FilterRecord, progressProc, 8, 12);
GM_PIN(FilterRecord, parameters, 12, 20);
GM_PIN(FilterRecord, imageSize, 16, 28);
GM_PIN(FilterRecord, planes, 20, 32);
GM_PIN(FilterRecord, filterRect, 22, 34);
GM_PIN(FilterRecord, background, 30, 42);
GM_PIN(FilterRecord, foreground, 36, 48);
GM_PIN(FilterRecord, maxSpace, 44, 56);
GM_PIN(FilterRecord, bufferSpace, 48, 60);
GM_PIN(FilterRecord, inRect, 52, 64);
GM_PIN(FilterRecord, inLoPlane, 60, 72);
GM_PIN(FilterRecord, inHiPlane, 62, 74);
GM_PIN(FilterRecord, outRect, 64, 76);
GM_PIN(FilterRecord, outLoPlane, 72, 84);
GM_PIN(FilterRecord, outHiPlane, 74, 86);
GM_PIN(FilterRecord, inData, 76, 88);
GM_PIN(FilterRecord, inRowBytes, 80, 96);
GM_PIN(FilterRecord, outData, 84, 100);
GM_PIN(FilterRecord, outRowBytes, 88, 108);
GM_PIN(FilterRecord, isFloating, 92, 112);
GM_PIN(FilterRecord, haveMask, 93, 113);
GM_PIN(FilterRecord, autoMask, 94, 114);
GM_PIN(FilterRecord, maskRect, 96, 116);
GM_PIN(FilterRecord, maskData, 104, 124);
GM_PIN(FilterRecord, maskRowBytes, 108, 132);
GM_PIN(FilterRecord, backColor, 112, 136);
GM_PIN(FilterRecord, foreColor, 116, 140);
GM_PIN(FilterRecord, hostSig, 120, 144);
GM_PIN(FilterRecord, hostProc, 124, 148);
GM_PIN(FilterRecord, imageMode, 128, 156);
GM_PIN(FilterRecord, imageHRes, 132, 160);
GM_PIN(FilterRecord, imageVRes, 136, 164);
GM_PIN(FilterRecord, floatCoord, 140, 168);
GM_PIN(FilterRecord, wholeSize, 144, 172);
GM_PIN(FilterRecord, monitor, 148, 176);
GM_PIN(FilterRecord, platformData, 188, 216);
GM_PIN(FilterRecord, bufferProcs, 192, 224);
GM_PIN(FilterRecord, resourceProcs, 196, 232);
GM_PIN(FilterRecord, processEvent, 200, 240);
GM_PIN(FilterRecord, displayPixels, 204, 248);
GM_PIN(FilterRecord, handleProcs, 208, 256);
GM_PIN(FilterRecord, supportsDummyChannels, 212, 264);
GM_PIN(FilterRecord, supportsAlternateLayouts, 213, 265);
GM_PIN(FilterRecord, wantLayout, 214, 266);
GM_PIN(FilterRecord, filterCase, 216, 268);
GM_PIN(FilterRecord, dummyPlaneValue, 218, 270);
GM_PIN(FilterRecord, premiereHook, 220, 272);
GM_PIN(FilterRecord, advanceState, 224, 280);
GM_PIN(FilterRecord, supportsAbsolute, 228, 288);
GM_PIN(FilterRecord, wantsAbsolute, 229, 289);
GM_PIN(FilterRecord, getPropertyObsolete, 232, 292);
GM_PIN(FilterRecord, cannotUndo, 236, 300);
GM_PIN(FilterRecord, supportsPadding, 237, 301);
GM_PIN(FilterRecord, inputPadding, 238, 302);
GM_PIN(FilterRecord, outputPadding, 240, 304);
GM_PIN(FilterRecord, maskPadding, 242, 306);
GM_PIN(FilterRecord, samplingSupport, 244, 308);
GM_PIN(FilterRecord, reservedByte, 245, 309);
GM_PIN(FilterRecord, inputRate, 248, 312);
GM_PIN(FilterRecord, maskRate, 252, 316);
GM_PIN(FilterRecord, colorServices, 256, 320);
GM_PIN(FilterRecord, inLayerPlanes, 260, 328);
GM_PIN(FilterRecord, inTransparencyMask, 262, 330);
GM_PIN(FilterRecord, inLayerMasks, 264, 332);
GM_PIN(FilterRecord, inInvertedLayerMasks, 266, 334);
GM_PIN(FilterRecord, inNonLayerPlanes, 268, 336);
GM_PIN(FilterRecord, outLayerPlanes, 270, 338);
GM_PIN(FilterRecord, outTransparencyMask, 272, 340);
GM_PIN(FilterRecord, outLayerMasks, 274, 342);
GM_PIN(FilterRecord, outInvertedLayerMasks, 276, 344);
GM_PIN(FilterRecord, outNonLayerPlanes, 278, 346);
GM_PIN(FilterRecord, absLayerPlanes, 280, 348);
GM_PIN(FilterRecord, absNonLayerPlanes, 288, 356);
GM_PIN(FilterRecord, inPreDummyPlanes, 290, 358);
GM_PIN(FilterRecord, inPostDummyPlanes, 292, 360);
GM_PIN(FilterRecord, outPreDummyPlanes, 294, 362);
GM_PIN(FilterRecord, outPostDummyPlanes, 296, 364);
GM_PIN(FilterRecord, inColumnBytes, 300, 368);
GM_PIN(FilterRecord, inPlaneBytes, 304, 372);
GM_PIN(FilterRecord, outColumnBytes, 308, 376);
GM_PIN(FilterRecord, outPlaneBytes, 312, 380);
GM_PIN(FilterRecord, imageServicesProcs, 316, 384);
GM_PIN(FilterRecord, propertyProcs, 320, 392);
GM_PIN(FilterRecord, inTileHeight, 324, 400);
GM_PIN(FilterRecord, inTileWidth, 326, 402);
GM_PIN(FilterRecord, inTileOrigin, 328, 404);
GM_PIN(FilterRecord, absTileHeight, 332, 408);
GM_PIN(FilterRecord, absTileWidth, 334, 410);
GM_PIN(FilterRecord, absTileOrigin, 336, 412);
GM_PIN(FilterRecord, outTileHeight, 340, 416);
GM_PIN(FilterRecord, outTileWidth, 342, 418);
GM_PIN(FilterRecord, outTileOrigin, 344, 420);
GM_PIN(FilterRecord, maskTileHeight, 348, 424);
GM_PIN(FilterRecord, maskTileWidth, 350, 426);
GM_PIN(FilterRecord, maskTileOrigin, 352, 428);
GM_PIN(FilterRecord, descriptorParameters, 356, 432);
GM_PIN(FilterRecord, errorString, 360, 440);
GM_PIN(FilterRecord, channelPortProcs, 364, 448);
GM_PIN(FilterRecord, documentInfo, 368, 456);
GM_PIN(FilterRecord, sSPBasic, 372, 464);
GM_PIN(FilterRecord, plugInRef, 376, 472);
GM_PIN(FilterRecord, depth, 380, 480);
GM_PIN(FilterRecord, iCCprofileData, 384, 484);
GM_PIN(FilterRecord, iCCprofileSize, 388, 492);
GM_PIN(FilterRecord, canUseICCProfiles, 392, 496);
GM_PIN(FilterRecord, hasImageScrap, 396, 500);
GM_PIN(FilterRecord, bigDocumentData, 400, 504);

GM_PIN(AboutRecord, platformData, 0, 0);
GM_PIN(AboutRecord, sSPBasic, 4, 8);
GM_PIN(AboutRecord, plugInRef, 8, 16);

GM_PIN(BigDocumentStruct, PluginUsing32BitCoordinates, 0, 0);
GM_PIN(BigDocumentStruct, imageSize32, 4, 4);
GM_PIN(BigDocumentStruct, filterRect32, 12, 12);
GM_PIN(BigDocumentStruct, inRect32, 28, 28);
GM_PIN(BigDocumentStruct, outRect32, 44, 44);
GM_PIN(BigDocumentStruct, maskRect32, 60, 60);
GM_PIN(BigDocumentStruct, floatCoord32, 76, 76);
GM_PIN(BigDocumentStruct, wholeSize32, 84, 84);
static_assert(sizeof(BigDocumentStruct) == 92);

GM_PIN(SPBasicSuite, AcquireSuite, 0, 0);
GM_PIN(SPBasicSuite, ReleaseSuite, 4, 8);
GM_PIN(SPBasicSuite, IsEqual, 8, 16);
GM_PIN(SPBasicSuite, AllocateBlock, 12, 24);
GM_PIN(SPBasicSuite, FreeBlock, 16, 32);
GM_PIN(SPBasicSuite, ReallocateBlock, 20, 40);
GM_PIN(SPBasicSuite, Undefined, 24, 48);

static_assert(sizeof(Point) == 4 && sizeof(Rect) == 8 && sizeof(RGBColor) == 6);
static_assert(sizeof(FilterColor) == 4 && sizeof(PlugInMonitor) == 40);
