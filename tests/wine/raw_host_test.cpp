// A second, deliberately separate host for the Win64 module: it shares no
// record declaration with the module. It lays out the filter record, the
// 32-bit coordinate record and the basic suite as plain bytes at the Win64
// offsets that host applications use, so a shifted field in the module's own
// declarations shows up here as a wrong picture or a wrong request.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/RunCases.h"
#include "tests/wine/WinePath.h"

namespace {

// Win64 offsets in the filter record.
constexpr size_t kAbortProc = 4, kProgressProc = 12, kImageSize = 28, kPlanes = 32, kFilterRect = 34,
                 kMaxSpace = 56, kBufferSpace = 60, kInRect = 64, kOutRect = 76, kOutLoPlane = 84,
                 kOutHiPlane = 86, kOutData = 100, kOutRowBytes = 108, kMaskRect = 116, kImageMode = 156,
                 kFloatCoord = 168, kWholeSize = 172, kFilterCase = 268, kAdvanceState = 280,
                 kOutLayerPlanes = 338, kOutTileHeight = 416, kOutTileWidth = 418, kSPBasic = 464,
                 kBigDocumentData = 504;
constexpr size_t kRecordBytes = 512 + 256;  // later hosts append fields: a zeroed tail
// Offsets in the 32-bit coordinate record (all int32).
constexpr size_t kUsing32 = 0, kImageSize32 = 4, kFilterRect32 = 12, kOutRect32 = 44, kWholeSize32 = 84;
constexpr size_t kBigDocumentBytes = 92;

template <typename T>
void Put(std::vector<uint8_t>& bytes, size_t at, const T& value) {  // by reference: arrays keep their size
  std::memcpy(bytes.data() + at, &value, sizeof value);
}
template <typename T>
T Get(const std::vector<uint8_t>& bytes, size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

struct Area {
  int32_t top, left, bottom, right;
};

// One run at a time: the callbacks take no arguments, as in real hosts.
struct RawRun {
  std::vector<uint8_t> record = std::vector<uint8_t>(kRecordBytes);
  std::vector<uint8_t> big = std::vector<uint8_t>(kBigDocumentBytes);
  gm::Image* image = nullptr;
  int32_t padding = 0;
  std::vector<uint8_t> buffer;
  Area served{};
  bool serving = false;
  int progressCalls = 0;
  int badRequests = 0;

  bool Uses32() const { return Get<int32_t>(big, kUsing32) != 0; }
  Area OutArea() const {
    if (Uses32()) {
      return {Get<int32_t>(big, kOutRect32), Get<int32_t>(big, kOutRect32 + 4), Get<int32_t>(big, kOutRect32 + 8),
              Get<int32_t>(big, kOutRect32 + 12)};
    }
    return {Get<int16_t>(record, kOutRect), Get<int16_t>(record, kOutRect + 2), Get<int16_t>(record, kOutRect + 4),
            Get<int16_t>(record, kOutRect + 6)};
  }
  void WriteBack() {
    if (!serving) return;
    const size_t stride = static_cast<size_t>(served.right - served.left) * 3 + padding;
    for (int32_t y = served.top; y < served.bottom; ++y) {
      std::memcpy(image->At(served.left, y), buffer.data() + (y - served.top) * stride,
                  static_cast<size_t>(served.right - served.left) * 3);
    }
    serving = false;
  }
};

RawRun* current = nullptr;

Boolean RawAbort() { return 0; }
void RawProgress(int32_t, int32_t) { ++current->progressCalls; }
int16_t RawAdvanceState() {
  RawRun& run = *current;
  run.WriteBack();
  Put<void*>(run.record, kOutData, nullptr);
  const Area a = run.OutArea();
  const bool planesOk = Get<int16_t>(run.record, kOutLoPlane) == 0 && Get<int16_t>(run.record, kOutHiPlane) == 2;
  if (a.top < 0 || a.left < 0 || a.bottom > run.image->height || a.right > run.image->width || a.top > a.bottom ||
      a.left > a.right || !planesOk) {
    ++run.badRequests;
    return -50;
  }
  if (a.top == a.bottom || a.left == a.right) return 0;
  const size_t stride = static_cast<size_t>(a.right - a.left) * 3 + run.padding;
  run.buffer.assign(stride * static_cast<size_t>(a.bottom - a.top), 0);
  for (int32_t y = a.top; y < a.bottom; ++y) {
    std::memcpy(run.buffer.data() + (y - a.top) * stride, run.image->At(a.left, y),
                static_cast<size_t>(a.right - a.left) * 3);
  }
  run.served = a;
  run.serving = true;
  Put<void*>(run.record, kOutData, run.buffer.data());
  Put<int32_t>(run.record, kOutRowBytes, static_cast<int32_t>(stride));
  return 0;
}

// The basic suite as a table of seven function pointers; this filter run
// needs none of them, so each refuses.
int32_t Refuse() { return -1; }
void* const kBasicSuite[7] = {reinterpret_cast<void*>(&Refuse), reinterpret_cast<void*>(&Refuse),
                              reinterpret_cast<void*>(&Refuse), reinterpret_cast<void*>(&Refuse),
                              reinterpret_cast<void*>(&Refuse), reinterpret_cast<void*>(&Refuse),
                              reinterpret_cast<void*>(&Refuse)};

using Entry = void (*)(int16_t selector, void* record, intptr_t* data, int16_t* result);

struct Outcome {
  int16_t startResult = 0;
  int progressCalls = 0;
  int badRequests = 0;
  bool used32 = false;
};

Outcome RunRaw(Entry entry, gm::Image& image, const gm::test::RunCase& c) {
  RawRun run;
  run.image = &image;
  run.padding = c.rowPadding;
  current = &run;
  const Area filter = c.filterRect ? Area{c.filterRect->top, c.filterRect->left, c.filterRect->bottom,
                                          c.filterRect->right}
                                   : Area{0, 0, image.height, image.width};
  auto& r = run.record;
  Put<void*>(r, kAbortProc, reinterpret_cast<void*>(&RawAbort));
  Put<void*>(r, kProgressProc, reinterpret_cast<void*>(&RawProgress));
  Put<void*>(r, kAdvanceState, reinterpret_cast<void*>(&RawAdvanceState));
  Put<const void*>(r, kSPBasic, kBasicSuite);
  const int16_t size16[2] = {static_cast<int16_t>(image.height), static_cast<int16_t>(image.width)};
  Put(r, kImageSize, size16);
  Put(r, kWholeSize, size16);
  Put<int16_t>(r, kPlanes, 3);
  const int16_t filter16[4] = {static_cast<int16_t>(filter.top), static_cast<int16_t>(filter.left),
                               static_cast<int16_t>(filter.bottom), static_cast<int16_t>(filter.right)};
  Put(r, kFilterRect, filter16);
  Put<int32_t>(r, kMaxSpace, 1 << 30);
  Put<int16_t>(r, kImageMode, 3);
  Put<int16_t>(r, kFilterCase, c.filterRect ? 2 : 1);
  Put<int16_t>(r, kOutLayerPlanes, 0);
  Put<int16_t>(r, kOutTileHeight, c.tileHeight);
  Put<int16_t>(r, kOutTileWidth, c.tileWidth);
  if (c.bigDocument) {
    const int32_t size32[2] = {image.height, image.width};
    Put(run.big, kImageSize32, size32);
    Put(run.big, kWholeSize32, size32);
    Put(run.big, kFilterRect32, filter);
    Put<void*>(r, kBigDocumentData, run.big.data());
  }

  Outcome outcome;
  intptr_t data = 0;
  int16_t result = 0;
  entry(1, r.data(), &data, &result);  // Parameters
  entry(2, r.data(), &data, &result);  // Prepare
  EXPECT_EQ(Get<int32_t>(r, kMaxSpace), 0);
  EXPECT_EQ(Get<int32_t>(r, kBufferSpace), 0);
  entry(3, r.data(), &data, &result);  // Start
  run.WriteBack();
  outcome.startResult = result;
  // Nothing further requested: Continue is not needed.
  const Area left = run.OutArea();
  EXPECT_TRUE(left.top == left.bottom || left.left == left.right);
  entry(5, r.data(), &data, &result);  // Finish
  outcome.progressCalls = run.progressCalls;
  outcome.badRequests = run.badRequests;
  outcome.used32 = run.Uses32();
  current = nullptr;
  // The 16-bit in and mask rectangles were never asked for here.
  EXPECT_EQ(Get<int64_t>(r, kInRect), 0);
  EXPECT_EQ(Get<int64_t>(r, kMaskRect), 0);
  EXPECT_EQ(Get<int32_t>(r, kFloatCoord), 0);
  return outcome;
}

class RawHostRun : public ::testing::TestWithParam<gm::test::RunCase> {};

TEST_P(RawHostRun, MatchesTheNativeBuildThroughPlainOffsets) {
  const auto& c = GetParam();
  HMODULE module = LoadLibraryA(gm::test::WinePath(GM_MODULE_GLYPHMOSAIC).c_str());
  ASSERT_NE(module, nullptr);
  auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "PluginMain")));
  ASSERT_NE(entry, nullptr);

  const std::string dir = gm::test::WinePath(GM_REFERENCE_DIR);
  gm::Image image;
  gm::Image expected;
  int16_t codes[2] = {};
  ASSERT_TRUE(gm::test::ReadRaw(dir + "\\" + c.sample + ".in", image, nullptr)) << dir;
  ASSERT_TRUE(gm::test::ReadRaw(dir + "\\" + c.name + ".out", expected, codes)) << dir;

  const Outcome outcome = RunRaw(entry, image, c);
  EXPECT_EQ(outcome.startResult, codes[0]);
  EXPECT_EQ(outcome.badRequests, 0);
  EXPECT_EQ(outcome.used32, c.bigDocument);
  if (codes[0] == 0) {
    EXPECT_GT(outcome.progressCalls, 0);
  }
  EXPECT_TRUE(image.pixels == expected.pixels) << "picture differs from the native build's";
  FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(Samples, RawHostRun, ::testing::ValuesIn(gm::test::RunCases()), [](const auto& info) {
  std::string name = info.param.name;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

}  // namespace
