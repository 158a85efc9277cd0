// The entry point, its phases, the coordinate accessors and the tiled driver,
// driven through PluginMain with hand-made host records and callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "entry/Coordinates.h"
#include "entry/Entry.h"
#include "entry/Platform.h"

namespace {

// What the fake host saw; the callbacks are plain functions, as a host's are.
struct Seen {
  std::vector<VRect> requested;
  std::vector<std::pair<int32_t, int32_t>> progress;
  int abortPolls = 0;
  int abortAfterPolls = -1;  // abort on this poll (1-based); -1 never
  int failOnCall = -1;       // advanceState returns failCode on this call (1-based)
  OSErr failCode = 0;
  int raiseOnCall = -1;      // advanceState raises on this call (1-based)
  int emptyOnCall = -1;      // advanceState delivers an empty rectangle on this call (1-based)
  bool deliverNull = false;
  std::vector<uint8_t> buffer;
  std::string caption, text;
};
Seen seen;
FilterRecord* current = nullptr;

// What the boundary tests make a phase raise, each kind a phase could.
enum class Raise { kShortCode, kLongCode, kBadAlloc, kRuntimeError, kBareInt };
Raise raiseKind = Raise::kBadAlloc;
int64_t raiseValue = 0;

[[noreturn]] void RaiseNow() {
  switch (raiseKind) {
    case Raise::kShortCode: throw static_cast<int16_t>(raiseValue);
    case Raise::kLongCode: throw static_cast<uint32_t>(raiseValue);
    case Raise::kBadAlloc: throw std::bad_alloc();
    case Raise::kRuntimeError: throw std::runtime_error("raised");
    case Raise::kBareInt: break;
  }
  throw static_cast<int>(raiseValue);
}
void RaiseInPhase(int16_t) { RaiseNow(); }

OSErr FakeAdvance() {
  seen.requested.push_back(GetOutRect());
  if (static_cast<int>(seen.requested.size()) == seen.raiseOnCall) RaiseNow();
  if (static_cast<int>(seen.requested.size()) == seen.emptyOnCall) {
    VRect empty = GetOutRect();
    empty.bottom = empty.top;
    SetOutRect(empty);
  }
  const VRect r = GetOutRect();
  const int32_t stride = 3 * (r.right - r.left) + 4;
  seen.buffer.assign(size_t(stride) * (r.bottom - r.top) + 1, 0x80);
  current->outData = seen.deliverNull ? nullptr : seen.buffer.data();
  current->outRowBytes = stride;
  // A failing host may still have delivered a buffer: it must stay untouched.
  return static_cast<int>(seen.requested.size()) == seen.failOnCall ? seen.failCode : noErr;
}
void FakeProgress(int32_t done, int32_t total) { seen.progress.emplace_back(done, total); }
Boolean FakeAbort() { return ++seen.abortPolls == seen.abortAfterPolls; }
void RecordMessage(const char* caption, const char* text) {
  seen.caption = caption;
  seen.text = text;
}

template <typename R>
std::vector<int32_t> Sides(const R& r) {
  return {r.top, r.left, r.bottom, r.right};
}

class Entry : public ::testing::Test {
 protected:
  struct {
    FilterRecord record;
    uint8_t tail[256];
  } storage{};
  BigDocumentStruct big{};
  FilterRecord& rec = storage.record;
  intptr_t data = 0;

  void SetUp() override {
    seen = Seen{};
    current = &rec;
    rec.advanceState = FakeAdvance;
    rec.progressProc = FakeProgress;
    rec.abortProc = FakeAbort;
    rec.planes = 3;
    rec.filterCase = 1;
    rec.outTileHeight = rec.outTileWidth = 64;
    SetPlatformMessageSink(RecordMessage);
  }
  void TearDown() override {
    SetPlatformMessageSink(nullptr);
    phaseHook = nullptr;
  }

  int16_t Call(int16_t selector, int16_t preset = 12345) {
    int16_t result = preset;
    PluginMain(selector, &rec, &data, &result);
    return result;
  }
  void UseBig(int32_t flag = 0) {
    rec.bigDocumentData = &big;
    big.PluginUsing32BitCoordinates = flag;
  }
  void SetFilter(VRect r) {
    rec.filterRect = Rect{int16_t(r.top), int16_t(r.left), int16_t(r.bottom), int16_t(r.right)};
    big.filterRect32 = r;
  }
  std::vector<uint8_t> Bytes() const {
    const auto* p = reinterpret_cast<const uint8_t*>(&storage);
    return {p, p + sizeof(storage)};
  }
};

TEST_F(Entry, UnknownSelectorsReportBadParametersAfterRefreshingTheValues) {
  UseBig(0);
  for (int16_t selector : {int16_t(6), int16_t(-1), int16_t(32767)}) {
    big.PluginUsing32BitCoordinates = 0;
    int16_t result = 0;
    PluginMain(selector, &rec, &data, &result);
    EXPECT_EQ(result, filterBadParameters) << selector;
    EXPECT_EQ(hostResult, &result);
    EXPECT_EQ(hostData, &data);
    EXPECT_EQ(hostFilterRecord, &rec);
    EXPECT_EQ(big.PluginUsing32BitCoordinates, 1);
  }
}

TEST_F(Entry, QuietPhasesKeepTheHostsResult) {
  for (int16_t selector : {filterSelectorParameters, filterSelectorPrepare, filterSelectorContinue,
                           filterSelectorFinish}) {
    for (int16_t preset : {int16_t(0), int16_t(-7), int16_t(999)}) {
      EXPECT_EQ(Call(selector, preset), preset) << selector;
    }
  }
}

TEST_F(Entry, PrepareZeroesOnlyTheMemoryRequests) {
  rec.maxSpace = 1000;
  rec.bufferSpace = 2000;
  auto expected = Bytes();
  Call(filterSelectorPrepare);
  std::memset(expected.data() + offsetof(FilterRecord, maxSpace), 0, 8);  // maxSpace, bufferSpace
  EXPECT_EQ(Bytes(), expected);
}

TEST_F(Entry, WithoutBigDocumentTheRecordIsLeftAlone) {
  const auto before = Bytes();
  Call(filterSelectorParameters);
  Call(filterSelectorFinish);
  EXPECT_EQ(Bytes(), before);
}

TEST_F(Entry, AboutShowsTheMessageAndKeepsTheFilterRecord) {
  Call(filterSelectorParameters);
  AboutRecord about{};
  int16_t result = 55;
  PluginMain(filterSelectorAbout, &about, &data, &result);
  EXPECT_EQ(result, 55);
  EXPECT_EQ(hostBasicSuite, nullptr);
  EXPECT_EQ(hostFilterRecord, &rec);
  EXPECT_EQ(seen.caption, "GlyphMosaic");
  ASSERT_EQ(std::count(seen.text.begin(), seen.text.end(), '\n'), 2);
  EXPECT_EQ(seen.text.substr(0, seen.text.find('\n')), "GlyphMosaic 1.0");

  SPBasicSuite suite{};
  about.sSPBasic = &suite;
  PluginMain(filterSelectorAbout, &about, &data, &result);
  EXPECT_EQ(hostBasicSuite, &suite);
}

TEST_F(Entry, ContinueEmptiesTheOutRectInTheFormInUse) {
  rec.outRect = Rect{1, 2, 3, 4};
  UseBig(0);
  big.outRect32 = VRect{5, 6, 7, 8};
  Call(filterSelectorContinue);  // PluginMain sets the flag, so the 32-bit form is in use
  EXPECT_EQ(Sides(big.outRect32), (std::vector<int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(Sides(rec.outRect), (std::vector<int32_t>{1, 2, 3, 4}));

  rec.bigDocumentData = nullptr;
  Call(filterSelectorContinue);
  EXPECT_EQ(Sides(rec.outRect), (std::vector<int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(Sides(big.outRect32), (std::vector<int32_t>{0, 0, 0, 0}));

  big.outRect32 = VRect{5, 6, 7, 8};
  rec.outRect = Rect{1, 2, 3, 4};
  Call(filterSelectorContinue);
  EXPECT_EQ(Sides(rec.outRect), (std::vector<int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(Sides(big.outRect32), (std::vector<int32_t>{5, 6, 7, 8}));
}

TEST_F(Entry, AccessorsPickTheFormByTheFlag) {
  hostFilterRecord = &rec;
  rec.inRect = Rect{-1, 2, 3, 4};
  big.inRect32 = VRect{100000, 200000, 300000, 400000};
  struct Case {
    bool attach;
    int32_t flag;
    int32_t expectTop;
  };
  for (const Case c : {Case{false, 0, -1}, Case{true, 0, -1}, Case{true, 2, 100000}, Case{true, -1, 100000}}) {
    rec.bigDocumentData = c.attach ? &big : nullptr;
    big.PluginUsing32BitCoordinates = c.flag;
    EXPECT_EQ(GetInRect().top, c.expectTop) << c.attach << " " << c.flag;
  }
}

TEST_F(Entry, SixteenBitSettersKeepTheLowBitsAndGettersSignExtend) {
  hostFilterRecord = &rec;
  using Setter = void (*)(VRect);
  using Getter = VRect (*)();
  const std::pair<Setter, Getter> pairs[] = {{SetInRect, GetInRect}, {SetOutRect, GetOutRect},
                                             {SetMaskRect, GetMaskRect}};
  for (auto [set, get] : pairs) {
    set(VRect{-1, -32768, 32767, 70000});
    const VRect r = get();
    EXPECT_EQ(r.top, -1);
    EXPECT_EQ(r.left, -32768);
    EXPECT_EQ(r.bottom, 32767);
    EXPECT_EQ(r.right, 4464);
  }
  rec.imageSize = Point{-1, 300};
  rec.floatCoord = Point{7, -8};
  rec.wholeSize = Point{9, 10};
  EXPECT_EQ(GetImageSize().v, -1);
  EXPECT_EQ(GetFloatCoord().h, -8);
  EXPECT_EQ(GetWholeSize().h, 10);
  rec.filterRect = Rect{1, 2, 3, 4};
  EXPECT_EQ(GetFilterRect().right, 4);
}

TEST_F(Entry, ThirtyTwoBitSettersLeaveTheSixteenBitFormAlone) {
  hostFilterRecord = &rec;
  UseBig(1);
  rec.outRect = Rect{1, 1, 1, 1};
  SetOutRect(VRect{0, 0, 0, 0});
  SetMaskRect(VRect{1, 2, 3000000, 4000000});
  EXPECT_EQ(big.maskRect32.right, 4000000);
  EXPECT_EQ(GetMaskRect().bottom, 3000000);
  EXPECT_EQ(rec.outRect.top, 1);
  big.imageSize32 = VPoint{2000000, 1};
  EXPECT_EQ(GetImageSize().v, 2000000);
}

TEST_F(Entry, TileSizesRoundDownToWholeCells) {
  struct Case {
    int16_t height, width;
    bool ok;
    int32_t tileHeight, tileWidth;
  };
  const Case cases[] = {{11, 64, false, 0, 0}, {64, 7, false, 0, 0}, {-12, 64, false, 0, 0},
                        {64, -8, false, 0, 0}, {23, 15, true, 12, 8}, {64, 64, true, 60, 64}};
  for (const auto& c : cases) {
    SetUp();
    rec.outTileHeight = c.height;
    rec.outTileWidth = c.width;
    SetFilter(VRect{0, 0, 200, 200});
    const auto before = Bytes();
    const int16_t result = Call(filterSelectorStart);
    if (!c.ok) {
      EXPECT_EQ(result, filterBadParameters);
      EXPECT_EQ(Bytes(), before);
      EXPECT_TRUE(seen.requested.empty());
      continue;
    }
    ASSERT_FALSE(seen.requested.empty());
    const VRect first = seen.requested.front();
    EXPECT_EQ(first.bottom - first.top, c.tileHeight);
    EXPECT_EQ(first.right - first.left, c.tileWidth);
  }
}

TEST_F(Entry, StartWalksTilesFromTheFilterCorner) {
  SetFilter(VRect{7, 5, 37, 105});
  EXPECT_EQ(Call(filterSelectorStart), 0);
  ASSERT_EQ(seen.requested.size(), 2u);
  const VRect a = seen.requested[0], b = seen.requested[1];
  EXPECT_EQ((std::vector<int32_t>{a.top, a.left, a.bottom, a.right}), (std::vector<int32_t>{7, 5, 37, 69}));
  EXPECT_EQ((std::vector<int32_t>{b.top, b.left, b.bottom, b.right}), (std::vector<int32_t>{7, 69, 37, 105}));
  EXPECT_EQ(seen.progress, (std::vector<std::pair<int32_t, int32_t>>{{1, 3}}));
  EXPECT_EQ(rec.outLoPlane, 0);
  EXPECT_EQ(rec.outHiPlane, 2);
  EXPECT_EQ(rec.outRect.bottom | rec.outRect.right | rec.outRect.top | rec.outRect.left, 0);
}

TEST_F(Entry, EmptyFilterRectangles) {
  SetFilter(VRect{10, 10, 10, 50});
  EXPECT_EQ(Call(filterSelectorStart, 77), 77);
  EXPECT_TRUE(seen.requested.empty());
  EXPECT_TRUE(seen.progress.empty());
  EXPECT_EQ(seen.abortPolls, 0);
  EXPECT_EQ(rec.outHiPlane, 2);

  SetUp();
  SetFilter(VRect{0, 10, 130, 10});  // no width, three tile rows
  EXPECT_EQ(Call(filterSelectorStart, 77), 77);
  EXPECT_TRUE(seen.requested.empty());
  EXPECT_EQ(seen.progress.size(), 3u);
  EXPECT_EQ(seen.abortPolls, 3);
}

TEST_F(Entry, PlaneCountFollowsTheFilterCase) {
  struct Case {
    int16_t filterCase, planes, layerPlanes;
    bool ok;
    int32_t total;
  };
  // Fewer than three planes would let the kernel overrun the host's buffer;
  // more than three are filtered as their first three.
  const Case cases[] = {{4, 4, 3, true, 3}, {1, 3, 0, true, 3}, {-2, 3, 0, true, 3}, {1, 4, 0, true, 4},
                        {1, 2, 3, false, 0}, {5, 4, 1, false, 0}, {3, 0, 0, false, 0},
                        {3, 2, 3, true, 3},  {2, 3, 2, true, 3}};
  for (const auto& c : cases) {
    SetUp();
    SetFilter(VRect{0, 0, 12, 8});
    rec.filterCase = c.filterCase;
    rec.planes = c.planes;
    rec.outLayerPlanes = c.layerPlanes;
    const auto before = Bytes();
    const int16_t result = Call(filterSelectorStart);
    if (c.ok) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(rec.outHiPlane, 2);
      EXPECT_EQ(seen.progress, (std::vector<std::pair<int32_t, int32_t>>{{1, c.total}}));
    } else {
      EXPECT_EQ(result, filterBadParameters);
      EXPECT_EQ(Bytes(), before);
    }
  }
}

TEST_F(Entry, ReversedFilterRectanglesChangeNothing) {
  for (VRect r : {VRect{10, 0, 5, 8}, VRect{0, 10, 12, 2}}) {
    SetUp();
    SetFilter(r);
    const auto before = Bytes();
    EXPECT_EQ(Call(filterSelectorStart), filterBadParameters);
    EXPECT_EQ(Bytes(), before);
  }
}

TEST_F(Entry, CancelStopsAfterTheRowItCameIn) {
  struct Case {
    int32_t bottom;  // rows of two tiles, 12 pixels each
    int abortOnPoll;
    size_t tiles;
  };
  // The whole row in progress is finished, nothing after it; the last row too reports the cancel.
  for (const Case c : {Case{36, 1, 2}, Case{36, 2, 4}, Case{36, 3, 6}, Case{12, 1, 2}}) {
    SetUp();
    SetFilter(VRect{0, 0, c.bottom, 16});
    rec.outTileHeight = 12;
    rec.outTileWidth = 8;
    seen.abortAfterPolls = c.abortOnPoll;
    EXPECT_EQ(Call(filterSelectorStart), userCanceledErr) << c.bottom << " " << c.abortOnPoll;
    EXPECT_EQ(seen.requested.size(), c.tiles);
    EXPECT_EQ(seen.progress.size(), size_t(c.abortOnPoll));
    EXPECT_EQ(Sides(rec.outRect), (std::vector<int32_t>{0, 0, 0, 0}));
  }
}

TEST_F(Entry, AdvanceStateErrorStopsAtThatTile) {
  // Any nonzero code is an error, whatever its sign.
  for (OSErr code : {memFullErr, userCanceledErr, OSErr{1}, OSErr{32767}}) {
    SetUp();
    SetFilter(VRect{0, 0, 12, 16});
    rec.outTileHeight = 12;
    rec.outTileWidth = 8;
    seen.failOnCall = 2;
    seen.failCode = code;
    EXPECT_EQ(Call(filterSelectorStart), code);
    EXPECT_EQ(seen.requested.size(), 2u) << code;
    EXPECT_TRUE(seen.progress.empty());
    EXPECT_EQ(seen.abortPolls, 0);
    EXPECT_EQ(Sides(rec.outRect), (std::vector<int32_t>{0, 8, 12, 16}));
    // The failing tile's buffer, delivered with the error, never reached the kernel.
    EXPECT_TRUE(std::all_of(seen.buffer.begin(), seen.buffer.end(), [](uint8_t v) { return v == 0x80; })) << code;
  }
}

TEST_F(Entry, AnEmptyDeliveredTileIsSkippedAndTheRowGoesOn) {
  for (int empty : {1, 2, 3}) {
    SetUp();
    SetFilter(VRect{0, 0, 24, 24});
    rec.outTileHeight = 12;
    rec.outTileWidth = 8;
    seen.emptyOnCall = empty;
    EXPECT_EQ(Call(filterSelectorStart), 0) << empty;
    EXPECT_EQ(seen.requested.size(), 6u) << empty;
    EXPECT_EQ(seen.progress.size(), 2u);
    // The last tile was still filtered: only drawn levels in its first row.
    EXPECT_TRUE(std::all_of(seen.buffer.begin(), seen.buffer.begin() + 24, [](uint8_t v) { return v == 0 || v == 192; }));
  }
}

TEST_F(Entry, MissingAdvanceStateOrBufferIsRefused) {
  SetFilter(VRect{0, 0, 12, 8});
  rec.advanceState = nullptr;
  EXPECT_EQ(Call(filterSelectorStart), filterBadParameters);

  SetUp();
  SetFilter(VRect{0, 0, 12, 8});
  seen.deliverNull = true;
  EXPECT_EQ(Call(filterSelectorStart), filterBadParameters);
}

TEST_F(Entry, MoreThan65535TileRowsAreAllCounted) {
  UseBig(0);
  SetFilter(VRect{0, 0, 70000 * 12, 0});  // no width: rows of no tiles, progress and polls only
  rec.outTileHeight = 12;
  rec.outTileWidth = 8;
  EXPECT_EQ(Call(filterSelectorStart, 77), 77);
  ASSERT_EQ(seen.progress.size(), 70000u);
  EXPECT_EQ(seen.progress.back(), (std::pair<int32_t, int32_t>{70000, 210000}));
  EXPECT_EQ(seen.abortPolls, 70000);
}

TEST_F(Entry, MoreThan65535TileColumnsAreAllVisited) {
  UseBig(0);
  SetFilter(VRect{0, 0, 12, 70000 * 8});
  rec.outTileHeight = 12;
  rec.outTileWidth = 8;
  EXPECT_EQ(Call(filterSelectorStart), 0);
  EXPECT_EQ(seen.requested.size(), 70000u);
  EXPECT_EQ(seen.requested.back().left, 69999 * 8);
  EXPECT_EQ(big.outRect32.right, 0);
}

struct RaiseCase {
  Raise kind;
  int64_t value;
  OSErr expected;
};
// A code that is no 16-bit failure still reports the phase as failed.
const RaiseCase kRaiseCases[] = {
    {Raise::kShortCode, -108, memFullErr},
    {Raise::kShortCode, -50, paramErr},
    {Raise::kShortCode, 0, filterBadParameters},
    {Raise::kLongCode, 0xFFFFFF80u, userCanceledErr},
    {Raise::kLongCode, 7, 7},
    {Raise::kLongCode, 0x5061726Du, filterBadParameters},
    {Raise::kLongCode, 0x8000u, filterBadParameters},
    {Raise::kBadAlloc, 0, memFullErr},
    {Raise::kRuntimeError, 0, filterBadParameters},
    {Raise::kBareInt, -108, filterBadParameters},
};

TEST_F(Entry, WhatEveryPhaseRaisesBecomesItsResultAndTheRecordStaysAsItWas) {
  for (const RaiseCase& c : kRaiseCases) {
    for (int16_t selector : {filterSelectorParameters, filterSelectorPrepare, filterSelectorStart,
                             filterSelectorContinue, filterSelectorFinish, int16_t(6)}) {
      SetUp();
      SetFilter(VRect{0, 0, 24, 16});
      rec.maxSpace = 1000;
      raiseKind = c.kind;
      raiseValue = c.value;
      phaseHook = RaiseInPhase;
      const auto before = Bytes();
      EXPECT_EQ(Call(selector), c.expected) << int(c.kind) << " " << c.value << " selector " << selector;
      EXPECT_EQ(Bytes(), before) << selector;
      EXPECT_TRUE(seen.requested.empty());
    }
    AboutRecord about{};
    int16_t result = 12345;
    PluginMain(filterSelectorAbout, &about, &data, &result);
    EXPECT_EQ(result, c.expected) << int(c.kind) << " " << c.value;
    EXPECT_TRUE(seen.caption.empty()) << "nothing is shown";
  }
}

TEST_F(Entry, RaisedMidStartLeavesTheRecordAsThePhaseLeftIt) {
  for (const RaiseCase& c : kRaiseCases) {
    SetUp();
    SetFilter(VRect{0, 0, 24, 16});
    rec.outTileHeight = 12;
    rec.outTileWidth = 8;
    raiseKind = c.kind;
    raiseValue = c.value;
    seen.raiseOnCall = 2;
    EXPECT_EQ(Call(filterSelectorStart), c.expected) << int(c.kind) << " " << c.value;
    ASSERT_EQ(seen.requested.size(), 2u);
    EXPECT_EQ(Sides(rec.outRect), (std::vector<int32_t>{0, 8, 12, 16}));
    EXPECT_EQ(rec.outHiPlane, 2);
    EXPECT_TRUE(seen.progress.empty());
    EXPECT_EQ(seen.abortPolls, 0);
    // The first tile was filtered before the raise: its buffer holds only the drawn levels.
    EXPECT_TRUE(std::all_of(seen.buffer.begin(), seen.buffer.begin() + 24, [](uint8_t v) { return v == 0 || v == 192; }));
  }
}

}  // namespace
