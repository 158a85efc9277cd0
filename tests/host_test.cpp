// Whole filter runs through the built-in host and PluginMain: the tiling must
// never show in the result, and the host must behave as a real one does.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "entry/Entry.h"
#include "entry/Platform.h"
#include "host/FilterHost.h"
#include "tests/TestImages.h"

namespace gm::host {
namespace {

using test::Picture;
using test::RandomImage;
using test::ReferenceResult;

VRect RandomRect(const Image& image, std::mt19937& rng) {
  auto pick = [&](int32_t limit) { return static_cast<int32_t>(rng() % (limit + 1)); };
  int32_t a = pick(image.height), b = pick(image.height), c = pick(image.width), d = pick(image.width);
  return VRect{std::min(a, b), std::min(c, d), std::max(a, b), std::max(c, d)};
}

TEST(HostRun, RandomTilingsMatchOneDirectKernelRun) {
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 60; ++trial) {
    const int channels = trial % 3 == 0 ? 4 : 3;
    Image image = trial % 2 ? RandomImage(1 + rng() % 150, 1 + rng() % 150, channels, rng)
                            : Picture(1 + rng() % 150, 1 + rng() % 150, channels, rng());
    RunOptions options;
    if (trial % 4) options.filterRect = RandomRect(image, rng);
    options.tileWidth = static_cast<int16_t>(8 + rng() % 80);
    options.tileHeight = static_cast<int16_t>(12 + rng() % 80);
    options.rowPadding = static_cast<int32_t>(rng() % 9);
    options.bigDocument = rng() % 2;
    options.alphaIsTransparency = rng() % 2;
    const VRect rect = options.filterRect.value_or(VRect{0, 0, image.height, image.width});
    const Image expected = ReferenceResult(image, rect);

    FilterHost host(PluginMain);
    const RunReport report = host.Run(image, options);
    ASSERT_TRUE(report.Succeeded()) << "trial " << trial << " result " << report.result;
    EXPECT_EQ(report.paddingBytesTouched, 0);
    EXPECT_EQ(image.pixels, expected.pixels) << "trial " << trial;
    for (const Delivery& d : report.deliveries) {
      EXPECT_EQ(d.loPlane, 0);
      EXPECT_EQ(d.hiPlane, 2);  // the fourth channel is never requested
    }
  }
}

// The module's total counts the planes it was told of, though it steps once
// per tile row: the host's fraction still ends at one.
TEST(HostRun, ProgressAndPhases) {
  struct Case {
    int channels;
    bool alphaIsTransparency;
  };
  for (const Case c : {Case{3, true}, Case{4, true}, Case{4, false}}) {
    SCOPED_TRACE(c.channels);
    Image image = Picture(100, 50, c.channels, 1);
    std::vector<double> progress;
    RunOptions options;
    options.tileWidth = 64;
    options.tileHeight = 24;
    options.alphaIsTransparency = c.alphaIsTransparency;
    options.progress = [&](double fraction) { progress.push_back(fraction); };
    FilterHost host(PluginMain);
    const RunReport report = host.Run(image, options);
    EXPECT_TRUE(report.Succeeded());
    EXPECT_EQ(report.lastSelector, filterSelectorFinish);
    EXPECT_EQ(report.continueCalls, 0);
    EXPECT_EQ(report.deliveries.size(), 6u);  // 3 tile rows of 24 x 2 tile columns of 64
    EXPECT_EQ(progress, (std::vector<double>{1.0 / 3, 2.0 / 3, 1.0}));
    EXPECT_EQ(report.abortPolls, 3);
  }
}

TEST(HostRun, CancelKeepsLaterRowsUntouched) {
  Image image = Picture(64, 48, 3, 2);
  const Image original = image;
  RunOptions options;
  options.tileWidth = 32;
  options.tileHeight = 12;
  options.abort = [] { return true; };
  FilterHost host(PluginMain);
  const RunReport report = host.Run(image, options);
  EXPECT_EQ(report.result, userCanceledErr);
  EXPECT_EQ(report.lastSelector, filterSelectorStart);
  EXPECT_EQ(report.deliveries.size(), 2u);
  for (int32_t y = 12; y < 48; ++y) EXPECT_TRUE(std::ranges::equal(image.Row(y), original.Row(y))) << y;
}

TEST(HostRun, DocumentsBeyondSixteenBitsNeedBigDocuments) {
  Image image = Picture(40000, 12, 3, 3);
  RunOptions options;
  options.bigDocument = false;
  FilterHost host(PluginMain);
  EXPECT_EQ(host.Run(image, options).hostError, paramErr);

  options.bigDocument = true;
  options.filterRect = VRect{0, 32760, 12, 40000};
  const Image expected = ReferenceResult(image, *options.filterRect);
  EXPECT_TRUE(host.Run(image, options).Succeeded());
  EXPECT_EQ(image.pixels, expected.pixels);
}

TEST(HostRun, RefusesDocumentsAndSelectionsItCannotHold) {
  Image image = Picture(20, 20, 3, 4);
  FilterHost host(PluginMain);
  for (VRect bad : {VRect{0, 0, 21, 20}, VRect{-1, 0, 10, 10}, VRect{5, 5, 4, 10}}) {
    RunOptions options;
    options.filterRect = bad;
    EXPECT_EQ(host.Run(image, options).hostError, paramErr);
  }
  Image twoChannels(4, 4, 2);
  EXPECT_EQ(host.Run(twoChannels).hostError, paramErr);
}

// Plug-ins that ask for what a real host would never deliver.
VRect nextRequest;
int16_t nextLo, nextHi;
OSErr lastAdvance;
int continueRounds;

void GreedyPlugin(int16_t selector, void* record, intptr_t*, int16_t* result) {
  auto* rec = static_cast<FilterRecord*>(record);
  if (selector == filterSelectorStart) {
    rec->outRect = Rect{int16_t(nextRequest.top), int16_t(nextRequest.left), int16_t(nextRequest.bottom),
                        int16_t(nextRequest.right)};
    rec->outLoPlane = nextLo;
    rec->outHiPlane = nextHi;
    lastAdvance = rec->advanceState();
    *result = lastAdvance;
  } else if (selector == filterSelectorContinue) {
    // Invert whatever was delivered, then ask for nothing more after a few rounds.
    auto* p = static_cast<uint8_t*>(rec->outData);
    p[0] = static_cast<uint8_t>(~p[0]);
    if (++continueRounds == 3) rec->outRect = Rect{0, 0, 0, 0};
  }
}

TEST(HostRequests, OutOfRangeRectanglesAndPlanesAreRefused) {
  struct Case {
    VRect rect;
    int16_t lo, hi;
    OSErr expected;
  };
  const Case cases[] = {
      {{0, 0, 10, 10}, 0, 2, noErr},     {{0, 0, 11, 10}, 0, 2, paramErr}, {{0, -1, 10, 10}, 0, 2, paramErr},
      {{5, 0, 4, 10}, 0, 2, paramErr},   {{0, 0, 10, 10}, 0, 3, paramErr}, {{0, 0, 10, 10}, -1, 2, paramErr},
      {{0, 0, 10, 10}, 2, 1, paramErr},  {{0, 0, 0, 0}, 0, 2, noErr},
  };
  for (const auto& c : cases) {
    Image image = Picture(10, 10, 3, 5);
    const Image original = image;
    nextRequest = c.rect;
    nextLo = c.lo;
    nextHi = c.hi;
    continueRounds = 2;  // one Continue round when the request stands
    FilterHost host(GreedyPlugin);
    RunOptions options;
    options.bigDocument = false;
    const RunReport report = host.Run(image, options);
    EXPECT_EQ(lastAdvance, c.expected);
    EXPECT_EQ(report.hostError, c.expected);
    if (c.expected != noErr) {
      EXPECT_EQ(image.pixels, original.pixels);
    }
  }
}

TEST(HostRequests, ContinueIsCalledWhileMoreIsAskedFor) {
  Image image = Picture(10, 10, 3, 6);
  const uint8_t first = image.pixels[0];
  nextRequest = VRect{0, 0, 10, 10};
  nextLo = 0;
  nextHi = 2;
  continueRounds = 0;
  FilterHost host(GreedyPlugin);
  const RunReport report = host.Run(image);
  EXPECT_TRUE(report.Succeeded());
  EXPECT_EQ(report.continueCalls, 3);
  EXPECT_EQ(report.lastSelector, filterSelectorFinish);
  EXPECT_EQ(image.pixels[0], static_cast<uint8_t>(~first));  // three inversions, each written back
}

// What the plug-in was handed for one request.
void* seenData;
int32_t seenRowBytes;

void RecordingPlugin(int16_t selector, void* record, intptr_t*, int16_t* result) {
  auto* rec = static_cast<FilterRecord*>(record);
  if (selector != filterSelectorStart) return;
  rec->outRect = Rect{int16_t(nextRequest.top), int16_t(nextRequest.left), int16_t(nextRequest.bottom),
                      int16_t(nextRequest.right)};
  rec->outLoPlane = nextLo;
  rec->outHiPlane = nextHi;
  *result = rec->advanceState();
  seenData = rec->outData;
  seenRowBytes = rec->outRowBytes;
  static_cast<uint8_t*>(seenData)[0] = 7;  // must reach the image either way
  rec->outRect = Rect{0, 0, 0, 0};
}

// All three planes of an RGB image without padding are the image's own rows;
// padding, a subset of the planes or a fourth channel get a copy.
TEST(HostRequests, DeliversInPlaceWhenTheImageLayoutIsWhatWasAskedFor) {
  struct Case {
    int channels;
    int32_t padding;
    int16_t lo, hi;
    bool inPlace;
  };
  const Case cases[] = {
      {3, 0, 0, 2, true}, {3, 4, 0, 2, false}, {3, 0, 1, 2, false}, {3, 0, 0, 0, false}, {4, 0, 0, 2, false},
  };
  for (const Case& c : cases) {
    Image image = Picture(40, 30, c.channels, 7);
    nextRequest = VRect{5, 6, 17, 30};
    nextLo = c.lo;
    nextHi = c.hi;
    RunOptions options;
    options.rowPadding = c.padding;
    FilterHost host(RecordingPlugin);
    const RunReport report = host.Run(image, options);
    ASSERT_TRUE(report.Succeeded());
    ASSERT_EQ(report.deliveries.size(), 1u);
    EXPECT_EQ(report.deliveries[0].inPlace, c.inPlace);
    const bool intoImage = seenData == image.At(6, 5);
    EXPECT_EQ(intoImage, c.inPlace) << c.channels << " channels, padding " << c.padding;
    const int32_t planes = c.hi - c.lo + 1;
    EXPECT_EQ(seenRowBytes, c.inPlace ? 40 * 3 : 24 * planes + c.padding);
    EXPECT_EQ(image.At(6, 5)[c.lo], 7);
  }
}

// What a plug-in got from the basic suite it was handed in Parameters.
SPBasicSuite* handedSuite;
std::vector<int32_t> suiteAnswers;
uint8_t reallocatedByte;

void SuitePlugin(int16_t selector, void* record, intptr_t*, int16_t*) {
  if (selector != filterSelectorParameters) return;
  SPBasicSuite* basic = handedSuite = static_cast<FilterRecord*>(record)->sSPBasic;
  void* a = nullptr;
  void* b = nullptr;
  int local = 0;
  const void* suite = nullptr;
  suiteAnswers = {basic->AllocateBlock(18, &a)};
  static_cast<uint8_t*>(a)[3] = 42;
  suiteAnswers.push_back(basic->ReallocateBlock(a, 4, &b));
  reallocatedByte = static_cast<uint8_t*>(b)[3];
  for (void* block : {a, static_cast<void*>(&local), b, static_cast<void*>(nullptr)}) {
    suiteAnswers.push_back(basic->FreeBlock(block));
  }
  suiteAnswers.push_back(basic->AcquireSuite("Photoshop Handle Suite for Plug-ins", 2, &suite));
}

// Blocks during a run; a block never handed out, or already given back, is
// refused; no named suites; nothing at all outside a run, whichever host was
// made last. A caller's own basic suite goes to the plug-in instead.
TEST(HostSuites, BasicSuiteServesBlocksForTheLengthOfARun) {
  Image image = Picture(8, 12, 3, 8);
  FilterHost host(SuitePlugin);
  ASSERT_TRUE(host.Run(image).Succeeded());
  EXPECT_EQ(suiteAnswers, (std::vector<int32_t>{noErr, noErr, paramErr, paramErr, noErr, noErr, kSuiteNotFound}));
  EXPECT_EQ(reallocatedByte, 42);

  FilterHost later(SuitePlugin);
  void* block = nullptr;
  EXPECT_EQ(handedSuite->AllocateBlock(4, &block), memFullErr);

  SPBasicSuite own{};
  RunOptions options;
  options.basicSuite = &own;
  FilterHost caller(+[](int16_t selector, void* record, intptr_t*, int16_t*) {
    if (selector == filterSelectorParameters) handedSuite = static_cast<FilterRecord*>(record)->sSPBasic;
  });
  ASSERT_TRUE(caller.Run(image, options).Succeeded());
  EXPECT_EQ(handedSuite, &own);
}

TEST(HostReport, DescribesTheFailureWithTheCodesName) {
  struct Case {
    int16_t result, hostError;
    const char* text;
  };
  for (const Case c : {Case{filterBadParameters, noErr, "the filter reported result -30100 (filterBadParameters)"},
                       Case{-1, noErr, "the filter reported result -1"},
                       Case{noErr, paramErr, "the host refused the filter's request, result -50 (paramErr)"},
                       Case{noErr, noErr, ""}}) {
    RunReport report;
    report.result = c.result;
    report.hostError = c.hostError;
    EXPECT_EQ(DescribeFailure(report), c.text);
  }
}

std::string aboutText;
void CaptureAbout(const char*, const char* text) { aboutText = text; }

TEST(HostAbout, RunsTheAboutPhase) {
  SetPlatformMessageSink(CaptureAbout);
  FilterHost host(PluginMain);
  EXPECT_EQ(host.About(), 0);
  SetPlatformMessageSink(nullptr);
  EXPECT_EQ(aboutText.rfind("GlyphMosaic 1.0\n", 0), 0u);
  EXPECT_NE(hostBasicSuite, nullptr);
}

}  // namespace
}  // namespace gm::host
