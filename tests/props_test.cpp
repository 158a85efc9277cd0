// Host property and handle utilities against a host with a document model,
// grouped by the shape of the routine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "abi/Suites.h"
#include "entry/Entry.h"
#include "props/Properties.h"
#include "support/SuiteHolder.h"
#include "tests/fakes/HostSuites.h"

namespace {

using gm::test::BasicSuiteHost;
using gm::test::HandleSuiteHost;
using gm::test::PropertySuiteHost;
using Bytes = std::vector<uint8_t>;

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes BytesOf(const std::u16string& text) {
  Bytes bytes(text.size() * 2);
  std::memcpy(bytes.data(), text.data(), bytes.size());
  return bytes;
}

constexpr OSErr kHostError = -25;

uint32_t KeyOf(const char* key) {
  char text[5] = {};
  std::memcpy(text, key, 4);
  return FourCharCode(text);
}

class PropsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.OfferSuite("Photoshop Property Suite for Plug-ins", 1, properties.Suite());
    host.OfferSuite("Photoshop Handle Suite for Plug-ins", 2, handles.Suite());
    hostBasicSuite = host.BasicSuite();
  }
  void TearDown() override {
    // Every handle the routines made or were given is disposed of exactly once.
    EXPECT_EQ(handles.Live(), 0u);
    EXPECT_EQ(handles.badDisposals, 0);
    ReleaseAllSuites();
    hostBasicSuite = nullptr;
  }
  void DisposeOf(Handle handle) { handles.Suite()->Dispose(handle); }
  uint32_t LastReadKey() const { return properties.reads.empty() ? 0 : properties.reads.back().first; }

  BasicSuiteHost host;
  HandleSuiteHost handles;
  PropertySuiteHost properties{handles};
};

// ---- Conversions -------------------------------------------------------------

TEST(FixedPointTest, ConvertsBothWays) {
  struct Case {
    uint32_t fixed;
    double value;
  };
  for (const Case c : {Case{0x00018000, 1.5}, Case{0x0002C000, 2.75}, Case{0, 0.0}, Case{0x00000001, 1.0 / 65536},
                       Case{0xFFFF0000, 65535.0}, Case{0x7FFFFFFF, 32767.0 + 65535.0 / 65536}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(FixedToDouble(static_cast<int32_t>(c.fixed)), c.value);
    EXPECT_EQ(static_cast<uint32_t>(DoubleToFixed(c.value)), c.fixed);
  }
  // Truncation toward zero and wrapping to 16 bits on each side.
  struct Odd {
    double value;
    uint32_t fixed;
  };
  for (const Odd c : {Odd{1.99999999, 0x0001FFFF}, Odd{-1.5, 0xFFFF8000}, Odd{65536.25, 0x00004000},
                      Odd{-0.25, 0x0000C000}, Odd{NAN, 0}, Odd{INFINITY, 0}, Odd{1e300, 0}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(static_cast<uint32_t>(DoubleToFixed(c.value)), c.fixed);
  }
}

TEST_F(PropsTest, TextIntoHandlesAndBack) {
  Handle handle = reinterpret_cast<Handle>(1);
  ASSERT_EQ(StringToHandle("abc", &handle), noErr);
  EXPECT_EQ(handles.Bytes(handle), BytesOf(std::string("abc")));
  EXPECT_EQ(handles.LockCount(handle), 0);
  std::string text = "old";
  EXPECT_EQ(HandleToString(handle, text), noErr);
  EXPECT_EQ(text, "abc");
  DisposeOf(handle);

  ASSERT_EQ(WideStringToHandle(u"\u00e9t\u00e9", &handle), noErr);
  EXPECT_EQ(handles.Bytes(handle).size(), 6u);
  std::u16string wide;
  EXPECT_EQ(HandleToWideString(handle, wide), noErr);
  EXPECT_EQ(wide, u"\u00e9t\u00e9");
  DisposeOf(handle);

  // A host that reports no size (or a negative one) for a handle with bytes in it.
  for (int32_t reported : {0, -1}) {
    handle = handles.Make(BytesOf(std::string("abc")));
    handles.ReportSize(handle, reported);
    text = "old";
    EXPECT_EQ(HandleToString(handle, text), kMissingData);
    EXPECT_EQ(text, "");
    wide = u"old";
    EXPECT_EQ(HandleToWideString(handle, wide), kMissingData);
    EXPECT_EQ(wide, u"");
    unsigned char pascal[256] = {7};
    EXPECT_EQ(HandleToPascalString(handle, pascal), kMissingData);
    EXPECT_EQ(pascal[0], 0);
    EXPECT_EQ(handles.LockCount(handle), 0);
    DisposeOf(handle);
  }

  // Nothing to hold, no handle to be had, or one that will not lock: no handle left over.
  struct Case {
    const char* what;
    std::string text;
    bool failNew, newUnlockable;
  };
  for (const Case& c : {Case{"empty", "", false, false}, Case{"no handle", "x", true, false},
                        Case{"unlockable", "x", false, true}}) {
    SCOPED_TRACE(c.what);
    handles.failNew = c.failNew;
    handles.newUnlockable = c.newUnlockable;
    handle = reinterpret_cast<Handle>(1);
    const int newCalls = handles.newCalls;
    EXPECT_EQ(StringToHandle(c.text, &handle), kMissingData);
    EXPECT_EQ(handles.newCalls - newCalls, c.text.empty() ? 0 : 1);
    EXPECT_EQ(handle, nullptr);
    handle = reinterpret_cast<Handle>(1);
    EXPECT_EQ(WideStringToHandle(std::u16string(c.text.begin(), c.text.end()), &handle), kMissingData);
    EXPECT_EQ(handle, nullptr);
  }
}

// ---- Simple values -------------------------------------------------------------

struct IntRead {
  const char* key;
  OSErr (*read)(int32_t&);
};

TEST_F(PropsTest, SimpleReadsWriteTheCallersValueInPlace) {
  const IntRead rows[] = {{"nuch", GetNumberOfChannels}, {"mode", GetImageMode},       {"nuly", GetNumberOfLayers},
                          {"tgly", GetTargetLayerIndex}, {"nupa", GetNumberOfPaths},   {"wkpa", GetWorkPathIndex},
                          {"clpa", GetClippingPathIndex}, {"tgpa", GetTargetPathIndex}, {"docH", GetDocumentHeight},
                          {"docW", GetDocumentWidth},    {"wtch", GetWatchSuspension}, {"slid", GetSliceID},
                          {"slin", GetSliceIndex}};
  int32_t expected = 100;
  for (const IntRead& row : rows) {
    SCOPED_TRACE(row.key);
    const uint32_t key = KeyOf(row.key);
    properties.SetSimple(key, 0, ++expected);
    int32_t value = 0;
    EXPECT_EQ(row.read(value), noErr);
    EXPECT_EQ(value, expected);
    EXPECT_EQ(properties.reads.back(), std::make_pair(key, 0));

    properties.FailRead(key, kHostError);
    value = -7;
    EXPECT_EQ(row.read(value), kHostError);
    EXPECT_EQ(value, -7);
  }
}

TEST_F(PropsTest, OnSuccessReadsLeaveTheValueAloneOnFailure) {
  const IntRead rows[] = {{"intp", GetInterpolationMethod}, {"rulr", GetRulerUnits}, {"PCrK", GetColorPickerKind}};
  for (const IntRead& row : rows) {
    SCOPED_TRACE(row.key);
    const uint32_t key = KeyOf(row.key);
    int32_t value = 55;
    EXPECT_EQ(row.read(value), PropertySuiteHost::kUndefined);  // not in the document
    EXPECT_EQ(value, 55);
    properties.SetSimple(key, 0, -3);
    EXPECT_EQ(row.read(value), noErr);
    EXPECT_EQ(value, -3);
  }
}

TEST_F(PropsTest, SimpleWrites) {
  struct Row {
    const char* key;
    OSErr (*write)();
    intptr_t expected;
  };
  const Row rows[] = {
      {"wtch", [] { return SetWatchSuspension(3); }, 3},
      {"slid", [] { return SetSliceID(-9); }, -9},
      {"slin", [] { return SetSliceIndex(70000); }, 70000},
      {"cpyr", [] { return SetCopyright(0x1FE); }, 0xFE},
      {"watr", [] { return SetWatermark(); }, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    const uint32_t key = KeyOf(row.key);
    EXPECT_EQ(row.write(), noErr);
    ASSERT_FALSE(properties.writes.empty());
    const auto& written = properties.writes.back();
    EXPECT_EQ(written.key, key);
    EXPECT_EQ(written.index, 0);
    EXPECT_EQ(written.simple, row.expected);
    EXPECT_FALSE(written.hadHandle);
    properties.FailWrite(key, kHostError);
    EXPECT_EQ(row.write(), kHostError);
  }
}

TEST_F(PropsTest, BooleansAndFlags) {
  struct Row {
    const char* key;
    OSErr (*read)(bool&);
  };
  const Row rows[] = {{"cpyr", GetCopyright},
                      {"watr", GetWatermark},
                      {"tltp", GetShowToolTips},
                      {"slsh", GetShowSliceNumbers},
                      {"plip", GetPlayInProgress}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    const uint32_t key = KeyOf(row.key);
    for (const auto& [stored, expected] : {std::pair{0, false}, {1, true}, {0x100, true}, {-1, true}}) {
      properties.SetSimple(key, 0, stored);
      bool value = !expected;
      EXPECT_EQ(row.read(value), noErr);
      EXPECT_EQ(value, expected) << stored;
    }
    properties.FailRead(key, kHostError);
    bool untouched = true;
    EXPECT_EQ(row.read(untouched), kHostError);
    EXPECT_TRUE(untouched);
  }

  struct Lock {
    int32_t bits;
    bool transparency, composite, position;
  };
  for (const Lock c : {Lock{5, true, false, true}, Lock{2, false, true, false}, Lock{0xF8, false, false, false}}) {
    properties.SetSimple(FourCharCode("tllk"), 0, c.bits);
    bool t = !c.transparency, m = !c.composite, p = !c.position;
    EXPECT_EQ(GetTargetLayerLock(t, m, p), noErr);
    EXPECT_EQ((std::vector<bool>{t, m, p}), (std::vector<bool>{c.transparency, c.composite, c.position})) << c.bits;
  }
  properties.FailRead(FourCharCode("tllk"), kHostError);
  bool t = true, m = true, p = true;
  EXPECT_EQ(GetTargetLayerLock(t, m, p), kHostError);
  EXPECT_TRUE(t && m && p);
}

TEST_F(PropsTest, VersionSplitsIntoThree) {
  struct Case {
    int32_t stored, major, minor, fix;
  };
  for (const Case c : {Case{0x00090102, 9, 1, 2}, Case{0x0018FF00, 24, 255, 0}, Case{0x00000007, 0, 0, 7}}) {
    properties.SetSimple(FourCharCode("vers"), 0, c.stored);
    int32_t major = -1, minor = -1, fix = -1;
    EXPECT_EQ(GetHostVersion(major, minor, fix), noErr);
    EXPECT_EQ(major, c.major);
    EXPECT_EQ(minor, c.minor);
    EXPECT_EQ(fix, c.fix);
  }
  properties.FailRead(FourCharCode("vers"), kHostError);
  int32_t major = -1, minor = -1, fix = -1;
  EXPECT_EQ(GetHostVersion(major, minor, fix), kHostError);
  EXPECT_EQ(major + minor + fix, -3);
}

// ---- Fixed-point pairs -----------------------------------------------------------

struct Pair {
  const char* first;
  const char* second;
  OSErr (*read)(double&, double&);
  OSErr (*write)(double, double);
};
const Pair kPairs[] = {{"bndH", "bndV", GetBigNudge, SetBigNudge},
                       {"rorH", "rorV", GetRulerOrigin, SetRulerOrigin},
                       {"grmj", "grmn", GetGridSpacing, SetGridSpacing}};

TEST_F(PropsTest, FixedPairReads) {
  for (const Pair& pair : kPairs) {
    SCOPED_TRACE(pair.first);
    const uint32_t first = KeyOf(pair.first);
    const uint32_t second = KeyOf(pair.second);
    double a = -1, b = -1;
    // Only the first key known: the first double is set, the second read's code comes back.
    properties.SetSimple(first, 0, 0x00018000);
    EXPECT_EQ(pair.read(a, b), PropertySuiteHost::kUndefined);
    EXPECT_EQ(a, 1.5);
    EXPECT_EQ(b, -1);

    properties.SetSimple(second, 0, 0x0002C000);
    EXPECT_EQ(pair.read(a, b), noErr);
    EXPECT_EQ(b, 2.75);

    // The first key failing stops before the second is read.
    properties.FailRead(first, kHostError);
    a = b = -1;
    properties.reads.clear();
    EXPECT_EQ(pair.read(a, b), kHostError);
    EXPECT_EQ(a, -1);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(properties.reads.size(), 1u);
  }
}

TEST_F(PropsTest, FixedPairWrites) {
  for (const Pair& pair : kPairs) {
    SCOPED_TRACE(pair.first);
    const uint32_t first = KeyOf(pair.first);
    const uint32_t second = KeyOf(pair.second);
    properties.writes.clear();
    EXPECT_EQ(pair.write(1.5, 2.75), noErr);
    ASSERT_EQ(properties.writes.size(), 2u);
    EXPECT_EQ(properties.writes[0].key, first);
    EXPECT_EQ(properties.writes[0].simple, 0x00018000);
    EXPECT_EQ(properties.writes[1].key, second);
    EXPECT_EQ(properties.writes[1].simple, 0x0002C000);

    properties.FailWrite(second, -2);
    EXPECT_EQ(pair.write(1, 2), -2);
    properties.FailWrite(first, kHostError);
    properties.writes.clear();
    EXPECT_EQ(pair.write(1, 2), kHostError);
    EXPECT_EQ(properties.writes.size(), 1u);
  }
}

// ---- Handles passed through ----------------------------------------------------

TEST_F(PropsTest, HandlePassThrough) {
  struct Row {
    const char* key;
    int32_t index;
    OSErr (*read)(Handle&);
    OSErr (*write)(Handle);
  };
  const Row rows[] = {
      {"capt", 0, GetCaption, SetCaption},
      {"slcs", 0, GetSlices, SetSlices},
      {"EXIF", 0, GetEXIFData, SetEXIFData},
      {"hgam", 0, GetGamutData, nullptr},
      {"path", 4, [](Handle& h) { return GetPathContents(4, h); }, nullptr},
      {"paAI", 2, [](Handle& h) { return GetPathContentsAI(2, h); }, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    const uint32_t key = KeyOf(row.key);
    properties.SetBytes(key, row.index, BytesOf(std::string("data")));
    Handle handle = nullptr;
    EXPECT_EQ(row.read(handle), noErr);
    EXPECT_EQ(handle, properties.lastHandle);
    EXPECT_EQ(handles.Bytes(handle), BytesOf(std::string("data")));
    EXPECT_EQ(properties.reads.back(), std::make_pair(key, row.index));
    DisposeOf(handle);  // the caller's to dispose of

    if (row.write) {
      Handle mine = handles.Make(BytesOf(std::string("new")));
      EXPECT_EQ(row.write(mine), noErr);
      EXPECT_EQ(properties.writes.back().key, key);
      EXPECT_EQ(properties.writes.back().bytes, BytesOf(std::string("new")));
      EXPECT_EQ(handles.DisposeCount(mine), 0);  // still the caller's
      DisposeOf(mine);
    }
  }
}

// ---- Records ---------------------------------------------------------------------

TEST_F(PropsTest, RecordReads) {
  const uint32_t iclr = FourCharCode("iclr"), sllc = FourCharCode("sllc");
  const ChannelColor channel{0x01020304, -5};
  const SliceColor slice{100, -200, 300};
  Bytes channelBytes(sizeof channel), sliceBytes(sizeof slice);
  std::memcpy(channelBytes.data(), &channel, sizeof channel);
  std::memcpy(sliceBytes.data(), &slice, sizeof slice);
  properties.SetBytes(iclr, 3, channelBytes);
  properties.SetBytes(sllc, 0, sliceBytes);

  ChannelColor gotChannel{};
  EXPECT_EQ(GetChannelColor(3, gotChannel), noErr);
  EXPECT_EQ(gotChannel.first, channel.first);
  EXPECT_EQ(gotChannel.second, channel.second);
  EXPECT_EQ(handles.DisposeCount(properties.lastHandle), 1);
  EXPECT_EQ(handles.LockCount(properties.lastHandle), 0);
  SliceColor gotSlice{};
  EXPECT_EQ(GetSliceColor(gotSlice), noErr);
  EXPECT_EQ((std::vector<int16_t>{gotSlice.red, gotSlice.green, gotSlice.blue}),
            (std::vector<int16_t>{100, -200, 300}));

  // The two differ in what a failed read or a missing handle gives.
  enum Fault { kReadFails, kNoHandle, kUnlockable, kShortHandle };
  struct Case {
    Fault fault;
    OSErr channelResult, sliceResult;
  };
  const Case cases[] = {
      {kReadFails, kMissingData, kHostError},
      {kNoHandle, kMissingData, noErr},
      {kUnlockable, kMissingData, kMissingData},
      {kShortHandle, kMissingData, kMissingData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    properties.ClearFaults();
    const size_t trim = c.fault == kShortHandle ? 1 : 0;
    properties.SetBytes(iclr, 3, Bytes(channelBytes.begin(), channelBytes.end() - trim));
    properties.SetBytes(sllc, 0, Bytes(sliceBytes.begin(), sliceBytes.end() - trim));
    if (c.fault == kReadFails) {
      properties.FailRead(iclr, kHostError);
      properties.FailRead(sllc, kHostError);
    }
    if (c.fault == kNoHandle) {
      properties.ReadWithoutHandle(iclr);
      properties.ReadWithoutHandle(sllc);
    }
    properties.unlockableHandles = c.fault == kUnlockable;

    ChannelColor channelOut{7, 7};
    EXPECT_EQ(GetChannelColor(3, channelOut), c.channelResult);
    EXPECT_EQ(channelOut.first, 7);
    SliceColor sliceOut{7, 7, 7};
    EXPECT_EQ(GetSliceColor(sliceOut), c.sliceResult);
    EXPECT_EQ(sliceOut.red, 7);
    EXPECT_EQ(handles.Live(), 0u);
  }
}

// ---- Strings -----------------------------------------------------------------------

// One handle-to-text read against the four ways a handle can come back.
template <typename Text, typename Read>
void CheckTextRead(HandleSuiteHost& handles, PropertySuiteHost& properties, uint32_t key,
                   int32_t index, Read read, const Bytes& stored, const Text& expected, const Text& previous) {
  properties.ClearFaults();
  properties.SetBytes(key, index, stored);
  Text text = previous;
  EXPECT_EQ(read(text), noErr);
  EXPECT_EQ(text, expected);
  EXPECT_EQ(properties.reads.back(), std::make_pair(key, index));
  EXPECT_EQ(handles.DisposeCount(properties.lastHandle), 1);
  EXPECT_EQ(handles.LockCount(properties.lastHandle), 0);

  // An empty handle: empty text, missing data, and still disposed of.
  properties.SetBytes(key, index, {});
  text = previous;
  EXPECT_EQ(read(text), kMissingData);
  EXPECT_EQ(text, Text{});
  EXPECT_EQ(handles.DisposeCount(properties.lastHandle), 1);

  // A handle that will not lock.
  properties.SetBytes(key, index, stored);
  properties.unlockableHandles = true;
  text = previous;
  EXPECT_EQ(read(text), kMissingData);
  EXPECT_EQ(text, Text{});
  EXPECT_EQ(handles.DisposeCount(properties.lastHandle), 1);
  properties.unlockableHandles = false;

  // A failed read, and a read that succeeds without a handle: the text stays.
  properties.FailRead(key, kHostError);
  text = previous;
  EXPECT_EQ(read(text), kHostError);
  EXPECT_EQ(text, previous);
  properties.ClearFaults();
  properties.ReadWithoutHandle(key);
  EXPECT_EQ(read(text), noErr);
  EXPECT_EQ(text, previous);
  properties.ClearFaults();
}

TEST_F(PropsTest, NarrowStringReads) {
  struct Row {
    const char* key;
    int32_t index;
    OSErr (*read)(std::string&);
  };
  const Row rows[] = {
      {"nmch", 2, [](std::string& s) { return GetChannelName(2, s); }},
      {"lynm", 1, [](std::string& s) { return GetLayerName(1, s); }},
      {"nmpa", 5, [](std::string& s) { return GetPathName(5, s); }},
      {"sstr", 0, GetSerialString},
      {"sstR", 0, GetSerialStringR},
      {"URL ", 0, GetURL},
      {"titl", 0, GetDocumentTitle},
      {"xmpd", 0, GetXMP},
  };
  const std::string stored("na\0me", 5);  // every byte, a zero included
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    CheckTextRead<std::string>(handles, properties, KeyOf(row.key),
                               row.index, row.read, BytesOf(stored), stored, std::string("previous"));
  }
}

TEST_F(PropsTest, WideStringReads) {
  struct Row {
    const char* key;
    int32_t index;
    OSErr (*read)(std::u16string&);
  };
  const Row rows[] = {
      {"unch", 2, [](std::u16string& s) { return GetUnicodeChannelName(2, s); }},
      {"lynu", 1, [](std::u16string& s) { return GetUnicodeLayerName(1, s); }},
      {"unmp", 3, [](std::u16string& s) { return GetUnicodePathName(3, s); }},
      {"unnm", 0, [](std::u16string& s) { return GetUnicodeDocumentName(s, true); }},
      {"neun", 0, [](std::u16string& s) { return GetUnicodeDocumentName(s, false); }},
  };
  const std::u16string stored = u"\u00c9t\u00e9";
  Bytes odd = BytesOf(stored);
  odd.push_back(0x7A);  // an odd last byte is dropped
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    const uint32_t key = KeyOf(row.key);
    CheckTextRead<std::u16string>(handles, properties, key, row.index, row.read, BytesOf(stored), stored,
                                  u"previous");
    CheckTextRead<std::u16string>(handles, properties, key, row.index, row.read, odd, stored, u"previous");
    CheckTextRead<std::u16string>(handles, properties, key, row.index, row.read, Bytes{0x41}, u"", u"x");
  }
}

TEST_F(PropsTest, LengthPrefixedRead) {
  const uint32_t key = FourCharCode("u25n");
  struct Case {
    size_t length;
    OSErr result;
    unsigned char lengthByte;
  };
  for (const Case c : {Case{3, noErr, 3}, Case{255, noErr, 255}, Case{256, noErr, 255}, Case{1000, noErr, 255},
                       Case{0, kMissingData, 0}}) {
    SCOPED_TRACE(c.length);
    Bytes stored(c.length);
    for (size_t i = 0; i < c.length; ++i) stored[i] = static_cast<uint8_t>('a' + i % 26);
    properties.SetBytes(key, 0, stored);
    // Room for the 256 bytes and a guard after them that must stay untouched.
    unsigned char buffer[260];
    std::memset(buffer, 0xEE, sizeof buffer);
    auto& text = *reinterpret_cast<unsigned char(*)[256]>(buffer);
    EXPECT_EQ(GetShortDocumentName(text), c.result);
    EXPECT_EQ(buffer[0], c.lengthByte);
    EXPECT_EQ(Bytes(buffer + 1, buffer + 1 + c.lengthByte), Bytes(stored.begin(), stored.begin() + c.lengthByte));
    for (size_t i = 256; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0xEE);
    EXPECT_EQ(handles.DisposeCount(properties.lastHandle), 1);
  }
  properties.SetBytes(key, 0, BytesOf(std::string("abc")));
  properties.unlockableHandles = true;
  unsigned char text[256] = {9};
  EXPECT_EQ(GetShortDocumentName(text), kMissingData);
  EXPECT_EQ(text[0], 0);
}

TEST_F(PropsTest, StringWrites) {
  struct Row {
    const char* key;
    OSErr (*write)(const std::string&);
  };
  for (const Row& row : {Row{"URL ", SetURL}, Row{"xmpd", SetXMP}}) {
    SCOPED_TRACE(row.key);
    const uint32_t key = KeyOf(row.key);
    properties.ClearFaults();
    handles.failNew = false;
    handles.newUnlockable = false;
    properties.writes.clear();
    EXPECT_EQ(row.write("http://x/"), noErr);
    ASSERT_EQ(properties.writes.size(), 1u);
    EXPECT_EQ(properties.writes[0].key, key);
    EXPECT_TRUE(properties.writes[0].hadHandle);
    EXPECT_EQ(properties.writes[0].bytes, BytesOf(std::string("http://x/")));  // no terminating zero

    properties.FailWrite(key, kHostError);
    EXPECT_EQ(row.write("abc"), kHostError);  // handle still disposed of (checked at tear-down)

    // No handle made: nothing written.
    properties.writes.clear();
    EXPECT_EQ(row.write(""), kMissingData);
    handles.failNew = true;
    EXPECT_EQ(row.write("abc"), kMissingData);
    handles.failNew = false;
    handles.newUnlockable = true;
    EXPECT_EQ(row.write("abc"), kMissingData);
    EXPECT_TRUE(properties.writes.empty());
  }
}

TEST_F(PropsTest, SuitesComeThroughTheHolders) {
  hostBasicSuite = nullptr;
  int32_t value = 0;
  try {
    GetNumberOfChannels(value);
    ADD_FAILURE() << "no basic suite, yet no raise";
  } catch (uint32_t code) {
    EXPECT_EQ(code, 0x5061726Du);
  }
  hostBasicSuite = host.BasicSuite();
  properties.SetSimple(FourCharCode("nuch"), 0, 3);
  EXPECT_EQ(GetNumberOfChannels(value), noErr);
  EXPECT_EQ(GetNumberOfChannels(value), noErr);
  size_t acquisitions = 0;
  for (const auto& call : host.SuiteCalls()) acquisitions += call.kind == gm::test::SuiteCall::Acquire;
  EXPECT_EQ(acquisitions, 1u);
}

}  // namespace
