#include "props/Properties.h"

#include <cmath>
#include <cstring>

#include "abi/Suites.h"
#include "support/SuiteHolder.h"

namespace {

const PropertySuite& Properties() { return *static_cast<const PropertySuite*>(propertySuite.Get()); }
const HandleSuite& Handles() { return *static_cast<const HandleSuite*>(handleSuite.Get()); }

char* Lock(Handle handle) {
  char* address = nullptr;
  Handles().SetLock(handle, 1, &address, nullptr);
  return address;
}
void Unlock(Handle handle) {
  char* address = nullptr;
  Handles().SetLock(handle, 0, &address, nullptr);
}

OSErr Read(uint32_t key, int32_t index, intptr_t* simple, Handle* complex) {
  return Properties().GetProperty(kPropertyVendor, key, index, simple, complex);
}
OSErr Write(uint32_t key, int32_t index, intptr_t simple, Handle complex) {
  return Properties().SetProperty(kPropertyVendor, key, index, simple, complex);
}

// The family's shapes; each routine below is one of these with its key.

OSErr ReadInPlace(uint32_t key, int32_t& value) {
  intptr_t simple = value;
  const OSErr err = Read(key, 0, &simple, nullptr);
  value = static_cast<int32_t>(simple);
  return err;
}

OSErr ReadOnSuccess(uint32_t key, int32_t& value) {
  intptr_t simple = 0;
  const OSErr err = Read(key, 0, &simple, nullptr);
  if (err == noErr) value = static_cast<int32_t>(simple);
  return err;
}

OSErr ReadFlag(uint32_t key, bool& value) {
  intptr_t simple = 0;
  const OSErr err = Read(key, 0, &simple, nullptr);
  if (err == noErr) value = static_cast<int32_t>(simple) != 0;
  return err;
}

OSErr WriteSimple(uint32_t key, int32_t value) { return Write(key, 0, value, nullptr); }

OSErr ReadFixedPair(uint32_t firstKey, uint32_t secondKey, double& first, double& second) {
  intptr_t simple = 0;
  const OSErr firstErr = Read(firstKey, 0, &simple, nullptr);
  if (firstErr != noErr) return firstErr;
  first = FixedToDouble(static_cast<int32_t>(simple));
  const OSErr secondErr = Read(secondKey, 0, &simple, nullptr);
  if (secondErr == noErr) second = FixedToDouble(static_cast<int32_t>(simple));
  return secondErr;
}

OSErr WriteFixedPair(uint32_t firstKey, uint32_t secondKey, double first, double second) {
  const OSErr firstErr = WriteSimple(firstKey, DoubleToFixed(first));
  if (firstErr != noErr) return firstErr;
  return WriteSimple(secondKey, DoubleToFixed(second));
}

OSErr ReadHandle(uint32_t key, int32_t index, Handle& value) { return Read(key, index, nullptr, &value); }
OSErr WriteHandle(uint32_t key, Handle value) { return Write(key, 0, 0, value); }

// Reads a handle, converts it into the caller's text and disposes of it.
// Without a handle the text is left as it was.
template <typename Text, typename Convert>
OSErr ReadText(uint32_t key, int32_t index, Text& text, Convert convert) {
  Handle handle = nullptr;
  const OSErr err = Read(key, index, nullptr, &handle);
  if (err != noErr || !handle) return err;
  const OSErr converted = convert(handle, text);
  Handles().Dispose(handle);
  return converted;
}

OSErr WriteText(uint32_t key, const std::string& text) {
  Handle handle = nullptr;
  if (StringToHandle(text, &handle) != noErr || !handle) return kMissingData;
  const OSErr err = Write(key, 0, 0, handle);
  Handles().Dispose(handle);
  return err;
}

// Copies a fixed-size record out of a handle. A handle shorter than the
// record counts as missing data rather than being read past its end.
OSErr CopyRecord(Handle handle, void* record, size_t size) {
  if (Handles().GetSize(handle) < static_cast<int32_t>(size)) {
    Handles().Dispose(handle);
    return kMissingData;
  }
  const char* bytes = Lock(handle);
  if (!bytes) {
    Handles().Dispose(handle);
    return kMissingData;
  }
  std::memcpy(record, bytes, size);
  Unlock(handle);
  Handles().Dispose(handle);
  return noErr;
}

template <typename Unit>
OSErr MakeHandle(const Unit* units, size_t count, Handle* handle) {
  *handle = nullptr;
  if (count == 0) return kMissingData;
  const size_t bytes = count * sizeof(Unit);
  if (bytes > INT32_MAX) return kMissingData;
  Handle made = Handles().New(static_cast<int32_t>(bytes));
  if (!made) return kMissingData;
  char* address = Lock(made);
  if (!address) {
    Handles().Dispose(made);
    return kMissingData;
  }
  std::memcpy(address, units, bytes);
  Unlock(made);
  *handle = made;
  return noErr;
}

// The handle's bytes, locked; size 0 and null when there are none.
struct LockedBytes {
  const char* bytes = nullptr;
  int32_t size = 0;
};
LockedBytes LockForReading(Handle handle) {
  const int32_t size = Handles().GetSize(handle);
  if (size <= 0) return {};
  const char* bytes = Lock(handle);
  if (!bytes) return {};
  return {bytes, size};
}

constexpr uint32_t Key(const char (&text)[5]) { return FourCharCode(text); }

}  // namespace

double FixedToDouble(int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  return static_cast<double>(bits >> 16) + static_cast<double>(bits & 0xFFFF) / 65536.0;
}

int32_t DoubleToFixed(double value) {
  // Out of range or not a number would make the conversions undefined.
  if (!std::isfinite(value)) return 0;
  const double whole = std::trunc(value);
  const auto integer = static_cast<uint32_t>(static_cast<int32_t>(std::fmod(whole, 65536.0))) & 0xFFFF;
  const auto fraction = static_cast<uint32_t>(static_cast<int32_t>((value - whole) * 65536.0)) & 0xFFFF;
  return static_cast<int32_t>(integer << 16 | fraction);
}

OSErr StringToHandle(const std::string& text, Handle* handle) { return MakeHandle(text.data(), text.size(), handle); }

OSErr WideStringToHandle(const std::u16string& text, Handle* handle) {
  return MakeHandle(text.data(), text.size(), handle);
}

OSErr HandleToString(Handle handle, std::string& text) {
  text.clear();
  const LockedBytes locked = LockForReading(handle);
  if (!locked.bytes) return kMissingData;
  text.assign(locked.bytes, static_cast<size_t>(locked.size));
  Unlock(handle);
  return noErr;
}

OSErr HandleToWideString(Handle handle, std::u16string& text) {
  text.clear();
  const LockedBytes locked = LockForReading(handle);
  if (!locked.bytes) return kMissingData;
  text.resize(static_cast<size_t>(locked.size) / 2);
  std::memcpy(text.data(), locked.bytes, text.size() * 2);
  Unlock(handle);
  return noErr;
}

OSErr HandleToPascalString(Handle handle, unsigned char (&text)[256]) {
  text[0] = 0;
  const LockedBytes locked = LockForReading(handle);
  if (!locked.bytes) return kMissingData;
  // Longer text is cut at 255 bytes, all that a length byte can count.
  const int32_t length = locked.size > 255 ? 255 : locked.size;
  text[0] = static_cast<unsigned char>(length);
  std::memcpy(text + 1, locked.bytes, static_cast<size_t>(length));
  Unlock(handle);
  return noErr;
}

OSErr GetNumberOfChannels(int32_t& value) { return ReadInPlace(Key("nuch"), value); }
OSErr GetImageMode(int32_t& value) { return ReadInPlace(Key("mode"), value); }
OSErr GetNumberOfLayers(int32_t& value) { return ReadInPlace(Key("nuly"), value); }
OSErr GetTargetLayerIndex(int32_t& value) { return ReadInPlace(Key("tgly"), value); }
OSErr GetNumberOfPaths(int32_t& value) { return ReadInPlace(Key("nupa"), value); }
OSErr GetWorkPathIndex(int32_t& value) { return ReadInPlace(Key("wkpa"), value); }
OSErr GetClippingPathIndex(int32_t& value) { return ReadInPlace(Key("clpa"), value); }
OSErr GetTargetPathIndex(int32_t& value) { return ReadInPlace(Key("tgpa"), value); }
OSErr GetDocumentHeight(int32_t& value) { return ReadInPlace(Key("docH"), value); }
OSErr GetDocumentWidth(int32_t& value) { return ReadInPlace(Key("docW"), value); }
OSErr GetWatchSuspension(int32_t& value) { return ReadInPlace(Key("wtch"), value); }
OSErr SetWatchSuspension(int32_t value) { return WriteSimple(Key("wtch"), value); }
OSErr GetSliceID(int32_t& value) { return ReadInPlace(Key("slid"), value); }
OSErr SetSliceID(int32_t value) { return WriteSimple(Key("slid"), value); }
OSErr GetSliceIndex(int32_t& value) { return ReadInPlace(Key("slin"), value); }
OSErr SetSliceIndex(int32_t value) { return WriteSimple(Key("slin"), value); }

OSErr GetInterpolationMethod(int32_t& value) { return ReadOnSuccess(Key("intp"), value); }
OSErr GetRulerUnits(int32_t& value) { return ReadOnSuccess(Key("rulr"), value); }
OSErr GetColorPickerKind(int32_t& value) { return ReadOnSuccess(Key("PCrK"), value); }

OSErr GetCopyright(bool& value) { return ReadFlag(Key("cpyr"), value); }
OSErr SetCopyright(int32_t value) { return WriteSimple(Key("cpyr"), value & 0xFF); }
OSErr GetWatermark(bool& value) { return ReadFlag(Key("watr"), value); }
OSErr SetWatermark() { return WriteSimple(Key("watr"), 1); }
OSErr GetShowToolTips(bool& value) { return ReadFlag(Key("tltp"), value); }
OSErr GetShowSliceNumbers(bool& value) { return ReadFlag(Key("slsh"), value); }
OSErr GetPlayInProgress(bool& value) { return ReadFlag(Key("plip"), value); }

OSErr GetTargetLayerLock(bool& transparency, bool& composite, bool& position) {
  int32_t bits = 0;
  const OSErr err = ReadOnSuccess(Key("tllk"), bits);
  if (err == noErr) {
    transparency = (bits & 1) != 0;
    composite = (bits & 2) != 0;
    position = (bits & 4) != 0;
  }
  return err;
}

OSErr GetHostVersion(int32_t& major, int32_t& minor, int32_t& fix) {
  int32_t v = 0;
  const OSErr err = ReadOnSuccess(Key("vers"), v);
  if (err == noErr) {
    major = v >> 16;
    minor = (v >> 8) & 0xFF;
    fix = v & 0xFF;
  }
  return err;
}

OSErr GetBigNudge(double& horizontal, double& vertical) {
  return ReadFixedPair(Key("bndH"), Key("bndV"), horizontal, vertical);
}
OSErr SetBigNudge(double horizontal, double vertical) {
  return WriteFixedPair(Key("bndH"), Key("bndV"), horizontal, vertical);
}
OSErr GetRulerOrigin(double& horizontal, double& vertical) {
  return ReadFixedPair(Key("rorH"), Key("rorV"), horizontal, vertical);
}
OSErr SetRulerOrigin(double horizontal, double vertical) {
  return WriteFixedPair(Key("rorH"), Key("rorV"), horizontal, vertical);
}
OSErr GetGridSpacing(double& major, double& minor) { return ReadFixedPair(Key("grmj"), Key("grmn"), major, minor); }
OSErr SetGridSpacing(double major, double minor) { return WriteFixedPair(Key("grmj"), Key("grmn"), major, minor); }

OSErr GetCaption(Handle& value) { return ReadHandle(Key("capt"), 0, value); }
OSErr SetCaption(Handle value) { return WriteHandle(Key("capt"), value); }
OSErr GetSlices(Handle& value) { return ReadHandle(Key("slcs"), 0, value); }
OSErr SetSlices(Handle value) { return WriteHandle(Key("slcs"), value); }
OSErr GetEXIFData(Handle& value) { return ReadHandle(Key("EXIF"), 0, value); }
OSErr SetEXIFData(Handle value) { return WriteHandle(Key("EXIF"), value); }
OSErr GetGamutData(Handle& value) { return ReadHandle(Key("hgam"), 0, value); }
OSErr GetPathContents(int32_t index, Handle& value) { return ReadHandle(Key("path"), index, value); }
OSErr GetPathContentsAI(int32_t index, Handle& value) { return ReadHandle(Key("paAI"), index, value); }

OSErr GetChannelColor(int32_t index, ChannelColor& value) {
  Handle handle = nullptr;
  const OSErr err = Read(Key("iclr"), index, nullptr, &handle);
  if (err != noErr || !handle) return kMissingData;
  const OSErr copied = CopyRecord(handle, &value, sizeof value);
  return copied != noErr ? copied : err;
}

OSErr GetSliceColor(SliceColor& value) {
  static_assert(sizeof(SliceColor) == 6);
  Handle handle = nullptr;
  const OSErr err = Read(Key("sllc"), 0, nullptr, &handle);
  if (err != noErr || !handle) return err;
  const OSErr copied = CopyRecord(handle, &value, sizeof value);
  return copied != noErr ? copied : err;
}

OSErr GetChannelName(int32_t index, std::string& value) { return ReadText(Key("nmch"), index, value, HandleToString); }
OSErr GetLayerName(int32_t index, std::string& value) { return ReadText(Key("lynm"), index, value, HandleToString); }
OSErr GetPathName(int32_t index, std::string& value) { return ReadText(Key("nmpa"), index, value, HandleToString); }
OSErr GetUnicodeChannelName(int32_t index, std::u16string& value) {
  return ReadText(Key("unch"), index, value, HandleToWideString);
}
OSErr GetUnicodeLayerName(int32_t index, std::u16string& value) {
  return ReadText(Key("lynu"), index, value, HandleToWideString);
}
OSErr GetUnicodePathName(int32_t index, std::u16string& value) {
  return ReadText(Key("unmp"), index, value, HandleToWideString);
}
OSErr GetSerialString(std::string& value) { return ReadText(Key("sstr"), 0, value, HandleToString); }
OSErr GetSerialStringR(std::string& value) { return ReadText(Key("sstR"), 0, value, HandleToString); }
OSErr GetURL(std::string& value) { return ReadText(Key("URL "), 0, value, HandleToString); }
OSErr SetURL(const std::string& value) { return WriteText(Key("URL "), value); }
OSErr GetDocumentTitle(std::string& value) { return ReadText(Key("titl"), 0, value, HandleToString); }
OSErr GetXMP(std::string& value) { return ReadText(Key("xmpd"), 0, value, HandleToString); }
OSErr SetXMP(const std::string& value) { return WriteText(Key("xmpd"), value); }
OSErr GetUnicodeDocumentName(std::u16string& value, bool withExtension) {
  return ReadText(withExtension ? Key("unnm") : Key("neun"), 0, value, HandleToWideString);
}
OSErr GetShortDocumentName(unsigned char (&value)[256]) {
  return ReadText(Key("u25n"), 0, value, HandleToPascalString);
}
