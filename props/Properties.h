// Document properties of the host, one routine per property key, read and
// written through the host's property suite; text and small records travel
// in host handles through its handle suite. Results are host codes: 0 is
// success, kMissingData marks an empty, missing or unlockable handle.
#pragma once

#include <cstdint>
#include <string>

#include "abi/Codes.h"
#include "abi/HostTypes.h"

// 16.16 fixed point with an unsigned integer part.
double FixedToDouble(int32_t value);
int32_t DoubleToFixed(double value);

OSErr StringToHandle(const std::string& text, Handle* handle);
OSErr WideStringToHandle(const std::u16string& text, Handle* handle);
OSErr HandleToString(Handle handle, std::string& text);
OSErr HandleToWideString(Handle handle, std::u16string& text);
// A length byte then up to 255 bytes of text.
OSErr HandleToPascalString(Handle handle, unsigned char (&text)[256]);

// Counts, sizes and indices; the host writes the value in place.
OSErr GetNumberOfChannels(int32_t& value);   // nuch
OSErr GetImageMode(int32_t& value);          // mode
OSErr GetNumberOfLayers(int32_t& value);     // nuly
OSErr GetTargetLayerIndex(int32_t& value);   // tgly
OSErr GetNumberOfPaths(int32_t& value);      // nupa
OSErr GetWorkPathIndex(int32_t& value);      // wkpa
OSErr GetClippingPathIndex(int32_t& value);  // clpa
OSErr GetTargetPathIndex(int32_t& value);    // tgpa
OSErr GetDocumentHeight(int32_t& value);     // docH
OSErr GetDocumentWidth(int32_t& value);      // docW
OSErr GetWatchSuspension(int32_t& value);    // wtch
OSErr SetWatchSuspension(int32_t value);
OSErr GetSliceID(int32_t& value);  // slid
OSErr SetSliceID(int32_t value);
OSErr GetSliceIndex(int32_t& value);  // slin
OSErr SetSliceIndex(int32_t value);

// Values copied to the caller only when the read succeeds.
OSErr GetInterpolationMethod(int32_t& value);  // intp
OSErr GetRulerUnits(int32_t& value);           // rulr
OSErr GetColorPickerKind(int32_t& value);      // PCrK

OSErr GetCopyright(bool& value);  // cpyr
OSErr SetCopyright(int32_t value);
OSErr GetWatermark(bool& value);  // watr
OSErr SetWatermark();
OSErr GetShowToolTips(bool& value);      // tltp
OSErr GetShowSliceNumbers(bool& value);  // slsh
OSErr GetPlayInProgress(bool& value);    // plip
OSErr GetTargetLayerLock(bool& transparency, bool& composite, bool& position);  // tllk
OSErr GetHostVersion(int32_t& major, int32_t& minor, int32_t& fix);              // vers

// Pairs of fixed-point values.
OSErr GetBigNudge(double& horizontal, double& vertical);  // bndH, bndV
OSErr SetBigNudge(double horizontal, double vertical);
OSErr GetRulerOrigin(double& horizontal, double& vertical);  // rorH, rorV
OSErr SetRulerOrigin(double horizontal, double vertical);
OSErr GetGridSpacing(double& major, double& minor);  // grmj, grmn
OSErr SetGridSpacing(double major, double minor);

// Handles passed through as they are; the caller owns what it reads.
OSErr GetCaption(Handle& value);  // capt
OSErr SetCaption(Handle value);
OSErr GetSlices(Handle& value);  // slcs
OSErr SetSlices(Handle value);
OSErr GetEXIFData(Handle& value);  // EXIF
OSErr SetEXIFData(Handle value);
OSErr GetGamutData(Handle& value);                    // hgam
OSErr GetPathContents(int32_t index, Handle& value);  // path
OSErr GetPathContentsAI(int32_t index, Handle& value);  // paAI

// Small records copied out of the returned handle.
struct ChannelColor {
  int32_t first, second;
};
struct SliceColor {
  int16_t red, green, blue;
};
OSErr GetChannelColor(int32_t index, ChannelColor& value);  // iclr
OSErr GetSliceColor(SliceColor& value);                     // sllc

// Text.
OSErr GetChannelName(int32_t index, std::string& value);            // nmch
OSErr GetLayerName(int32_t index, std::string& value);              // lynm
OSErr GetPathName(int32_t index, std::string& value);               // nmpa
OSErr GetUnicodeChannelName(int32_t index, std::u16string& value);  // unch
OSErr GetUnicodeLayerName(int32_t index, std::u16string& value);    // lynu
OSErr GetUnicodePathName(int32_t index, std::u16string& value);     // unmp
OSErr GetSerialString(std::string& value);                          // sstr
OSErr GetSerialStringR(std::string& value);                         // sstR
OSErr GetURL(std::string& value);                                   // URL
OSErr SetURL(const std::string& value);
OSErr GetDocumentTitle(std::string& value);  // titl
OSErr GetXMP(std::string& value);            // xmpd
OSErr SetXMP(const std::string& value);
// withExtension picks unnm, otherwise neun.
OSErr GetUnicodeDocumentName(std::u16string& value, bool withExtension);
OSErr GetShortDocumentName(unsigned char (&value)[256]);  // u25n
