// The shipped Win32 module, executed: loaded as a loader loads it, started,
// driven through every phase by an emulated host, and compared byte for byte
// with the native build on the same input.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "entry/Entry.h"
#include "entry/Platform.h"
#include "tests/TestImages.h"
#include "tests/win32/EmulatedHost.h"

namespace {

using gm::Image;
using gm::host::RunOptions;
using gm::host::RunReport;
using gm::win32::Convention;
using gm::win32::EmulatedProcess;
using gm::win32::EmulationError;

bool HaveModule() { return std::filesystem::exists(GM_WIN32_MODULE); }
#define REQUIRE_MODULE() \
  if (!HaveModule()) GTEST_SKIP() << GM_WIN32_MODULE << " is missing: build the win32 preset first"

struct FilterCase {
  const char* name;
  int32_t width, height;
  int channels;  // 4: a layer with transparency
  int16_t tileWidth, tileHeight;
  bool bigDocument;
  std::optional<VRect> rect;
  int32_t rowPadding;
  int abortAfterPolls;  // 0: never cancels
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

RunOptions OptionsFor(const FilterCase& c, int* polls) {
  RunOptions options;
  options.tileWidth = c.tileWidth;
  options.tileHeight = c.tileHeight;
  options.bigDocument = c.bigDocument;
  options.filterRect = c.rect;
  options.rowPadding = c.rowPadding;
  if (c.abortAfterPolls > 0) options.abort = [polls, c] { return ++*polls >= c.abortAfterPolls; };
  return options;
}

// Runs the case natively and emulated; both must agree on every byte and
// on everything the host saw.
void ExpectSameAsNative(EmulatedProcess& process, const FilterCase& c) {
  const Image original = gm::test::Picture(c.width, c.height, c.channels, 7 + c.width);
  Image native = original;
  Image emulated = original;
  int nativePolls = 0, emulatedPolls = 0;
  std::vector<double> nativeProgress, emulatedProgress;
  RunOptions nativeOptions = OptionsFor(c, &nativePolls);
  RunOptions emulatedOptions = OptionsFor(c, &emulatedPolls);
  nativeOptions.progress = [&](double fraction) { nativeProgress.push_back(fraction); };
  emulatedOptions.progress = [&](double fraction) { emulatedProgress.push_back(fraction); };
  gm::host::FilterHost host(&PluginMain);
  const RunReport expected = host.Run(native, nativeOptions);
  const RunReport got = process.Run(emulated, emulatedOptions);
  EXPECT_EQ(emulatedProgress, nativeProgress);

  EXPECT_EQ(got.result, expected.result);
  EXPECT_EQ(got.lastSelector, expected.lastSelector);
  EXPECT_EQ(got.hostError, expected.hostError);
  EXPECT_EQ(got.progressCalls, expected.progressCalls);
  EXPECT_EQ(got.abortPolls, expected.abortPolls);
  EXPECT_EQ(got.continueCalls, expected.continueCalls);
  EXPECT_EQ(got.paddingBytesTouched, 0);
  if (got.lastSelector == filterSelectorFinish) {
    EXPECT_EQ(process.lastRecord.used32, c.bigDocument);
    EXPECT_EQ(process.lastRecord.maxSpace, 0);
    EXPECT_EQ(process.lastRecord.bufferSpace, 0);
    EXPECT_TRUE(process.lastRecord.untouchedFieldsZero);
  }
  ASSERT_EQ(got.deliveries.size(), expected.deliveries.size());
  for (size_t i = 0; i < got.deliveries.size(); ++i) {
    const auto& a = got.deliveries[i].rect;
    const auto& b = expected.deliveries[i].rect;
    EXPECT_TRUE(a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right)
        << "delivery " << i << " differs";
    EXPECT_EQ(got.deliveries[i].loPlane, 0);
    EXPECT_EQ(got.deliveries[i].hiPlane, 2);
  }
  EXPECT_TRUE(emulated.pixels == native.pixels) << "picture differs from the native build's";
  if (c.channels == 4) {
    for (size_t i = 3; i < emulated.pixels.size(); i += 4) {
      ASSERT_EQ(emulated.pixels[i], original.pixels[i]) << "alpha changed at byte " << i;
    }
  }
}

class Win32Filter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(Win32Filter, MatchesTheNativeBuild) {
  REQUIRE_MODULE();
  EmulatedProcess process(GM_WIN32_MODULE);
  ExpectSameAsNative(process, GetParam());
  process.Unload();
  EXPECT_TRUE(process.api().debugLines.empty());
  EXPECT_EQ(process.Events("allocate").size(), process.Events("free").size());
}

// Whole images and selections, 16- and 32-bit coordinates, odd tiles and
// padded rows, a layer with transparency, a cancel.
const FilterCase kCases[] = {
    {"whole_32bit", 96, 72, 3, 256, 256, true, std::nullopt, 0, 0},
    {"whole_16bit_odd_tiles", 100, 77, 3, 37, 29, false, std::nullopt, 0, 0},
    {"selection_32bit_padded", 120, 90, 3, 45, 50, true, VRect{13, 7, 85, 111}, 5, 0},
    {"selection_16bit_padded", 88, 64, 3, 517, 131, false, VRect{3, 5, 61, 80}, 3, 0},
    {"cell_sized_tiles", 64, 48, 3, 8, 12, false, VRect{0, 0, 48, 64}, 1, 0},
    {"layer_with_alpha", 80, 60, 4, 64, 40, true, std::nullopt, 0, 0},
    {"layer_selection_16bit", 80, 60, 4, 33, 27, false, VRect{10, 9, 50, 70}, 2, 0},
    {"cancel_after_three_rows", 96, 96, 3, 32, 24, true, std::nullopt, 0, 3},
};

INSTANTIATE_TEST_SUITE_P(Cases, Win32Filter, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Win32Filter, RefusesATileBelowOneCellAndLeavesTheImage) {
  REQUIRE_MODULE();
  EmulatedProcess process(GM_WIN32_MODULE);
  const Image original = gm::test::Picture(40, 30, 3, 1);
  Image image = original;
  RunOptions options;
  options.tileWidth = 7;
  options.tileHeight = 11;
  const RunReport report = process.Run(image, options);
  EXPECT_EQ(report.result, filterBadParameters);
  EXPECT_TRUE(report.deliveries.empty());
  EXPECT_TRUE(image.pixels == original.pixels);
}

// Each forced kernel variant runs different code, told apart by how many
// basic blocks a run executes once the variant is chosen; a variant the
// emulated processor lacks (it has no AVX) falls back to the best one it
// has, so runs exactly the same blocks as it.
TEST(Win32Kernels, EveryVariantTheProcessorRunsMatchesTheNativeBuild) {
  REQUIRE_MODULE();
  const FilterCase c{"kernel", 72, 48, 3, 40, 30, true, VRect{2, 3, 47, 70}, 2, 0};
  std::map<std::string, uint64_t> blocks;
  for (const char* variant : {"plain", "generic", "sse2", "avx2", "avx512", ""}) {
    SCOPED_TRACE(variant);
    EmulatedProcess process(GM_WIN32_MODULE, {{"GLYPHMOSAIC_KERNEL", variant}});
    ExpectSameAsNative(process, c);  // the first run chooses the variant
    process.machine().CountBlocks(true);
    ExpectSameAsNative(process, c);
    blocks[variant] = process.machine().BlocksExecuted();
    std::cout << "variant '" << variant << "': " << blocks[variant] << " blocks\n";
  }
  EXPECT_NE(blocks["plain"], blocks["generic"]);
  EXPECT_NE(blocks["generic"], blocks["sse2"]);
  EXPECT_NE(blocks["plain"], blocks["sse2"]);
  EXPECT_EQ(blocks["avx2"], blocks["sse2"]);
  EXPECT_EQ(blocks["avx512"], blocks["sse2"]);
  EXPECT_EQ(blocks[""], blocks["sse2"]);  // unforced: the best the processor has
}

TEST(Win32Module, LoadsAwayFromItsBaseAndStartsUp) {
  REQUIRE_MODULE();
  EmulatedProcess process(GM_WIN32_MODULE);
  EXPECT_NE(process.module().base(), process.module().preferredBase());
  EXPECT_GT(process.module().relocationsApplied(), 100u);
  EXPECT_TRUE(process.module().attached());
  EXPECT_GT(process.module().tlsCallbacksRun(), 0u);
  const std::vector<std::string> startup = process.machine().FirstCalls();
  process.Unload();
  std::cout << "start-up calls, in order of first call:";
  for (const std::string& name : startup) std::cout << ' ' << name;
  std::cout << "\nfirst calls at unload:";
  for (size_t i = startup.size(); i < process.machine().FirstCalls().size(); ++i) {
    std::cout << ' ' << process.machine().FirstCalls()[i];
  }
  std::cout << '\n';
  EXPECT_TRUE(process.api().debugLines.empty());
}

std::vector<std::pair<std::string, std::string>> nativeMessages;

TEST(Win32Module, AboutShowsTheNativeTextOwnedByTheActiveWindow) {
  REQUIRE_MODULE();
  nativeMessages.clear();
  SetPlatformMessageSink([](const char* caption, const char* text) { nativeMessages.emplace_back(caption, text); });
  gm::host::FilterHost host(&PluginMain);
  EXPECT_EQ(host.About(), 0);
  SetPlatformMessageSink(nullptr);
  ASSERT_EQ(nativeMessages.size(), 1u);

  EmulatedProcess process(GM_WIN32_MODULE);
  EXPECT_EQ(process.About(), 0);
  ASSERT_EQ(process.api().messageBoxes.size(), 1u);
  const auto& box = process.api().messageBoxes[0];
  EXPECT_EQ(box.owner, gm::win32::Win32Api::kActiveWindow);
  EXPECT_EQ(box.style, 0u);
  EXPECT_EQ(box.caption, nativeMessages[0].first);
  EXPECT_EQ(box.text, nativeMessages[0].second);
  EXPECT_EQ(std::count(box.text.begin(), box.text.end(), '\n'), 2);
}

TEST(Win32Module, GenericProcWithoutHandlerReturnsZeroAndPopsItsArguments) {
  REQUIRE_MODULE();
  EmulatedProcess process(GM_WIN32_MODULE);
  const uint32_t args[4] = {0x00020DEF, 0x0400 + 77, 1, 2};  // a message no handler takes
  // Call() checks the stack: stdcall must remove the 16 bytes of arguments.
  EXPECT_EQ(process.machine().Call(process.Export("_GenericProc@16"), args, Convention::Stdcall) & 0xFFFFFFFF, 0u);
}

// The host's own checks, each shown to catch the fault it exists for: a
// fault names the address and the nearest export, a broken convention the
// register, a hang its place.
struct PlantedFault {
  const char* name;
  std::vector<uint8_t> patch;  // over PluginMain's first bytes
  uint32_t record;             // the record pointer PluginMain is given
  std::vector<std::string> expected;
};

void PrintTo(const PlantedFault& f, std::ostream* os) { *os << f.name; }

class Win32Faults : public ::testing::TestWithParam<PlantedFault> {};

TEST_P(Win32Faults, AreReportedWithTheirPlace) {
  REQUIRE_MODULE();
  const PlantedFault& f = GetParam();
  EmulatedProcess process(GM_WIN32_MODULE);
  gm::win32::Machine& m = process.machine();
  const uint32_t entry = process.Export("PluginMain");
  if (!f.patch.empty()) {
    // Written from outside: the code pages stay read-only to the module itself.
    uc_mem_write(m.engine(), entry, f.patch.data(), f.patch.size());
  }
  m.SetTimeout(1'000'000);
  const uint32_t slots = m.Allocate(8);
  const uint32_t args[4] = {1, f.record, slots, slots + 4};
  try {
    m.Call(entry, args, Convention::Cdecl);
    ADD_FAILURE() << "no fault reported";
  } catch (const EmulationError& e) {
    for (const std::string& s : f.expected) EXPECT_NE(std::string(e.what()).find(s), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Planted, Win32Faults,
    ::testing::ValuesIn(std::vector<PlantedFault>{
        {"unmapped_record", {}, 0x00000040, {"read from unmapped 0x000001", "GlyphMosaic.8bf .text, PluginMain+"}},
        {"illegal_instruction", {0x0F, 0x0B}, 0, {"illegal instruction at 0x", "PluginMain+0x00000000"}},
        {"hang", {0xEB, 0xFE}, 0, {"no return within 1 s", "PluginMain+0x00000000"}},
        {"stdcall_return", {0xC2, 0x10, 0x00}, 0, {"calling convention broken", "ESP"}},
        {"ebx_clobbered", {0x31, 0xDB, 0xC3}, 0, {"calling convention broken", "EBX"}},
        {"esi_clobbered", {0x31, 0xF6, 0xC3}, 0, {"calling convention broken", "ESI"}},
        {"direction_flag", {0xFD, 0xC3}, 0, {"direction flag set"}},
        {"misaligned_sse_operand", {0x8B, 0x44, 0x24, 0x08, 0x0F, 0x28, 0x40, 0x04, 0xC3}, gm::win32::kTib,
         {"16-byte SSE operand at misaligned 0x00310004", "PluginMain+0x00000004"}},
        {"write_to_code", {0xE8, 0, 0, 0, 0, 0x58, 0x89, 0x00, 0xC3}, 0, {"write to read-only", "PluginMain+0x00000006"}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// A system function the module calls but the host lacks stops the run with
// its name, at whichever phase first needs it.
struct Withheld {
  const char* function;
  enum { Load, About, Filter } when;
};

TEST(Win32Faults, AMissingSystemFunctionIsNamed) {
  REQUIRE_MODULE();
  for (const Withheld& w : {Withheld{"kernel32.dll!TlsAlloc", Withheld::Load},
                            Withheld{"user32.dll!MessageBoxA", Withheld::About},
                            Withheld{"msvcrt.dll!getenv", Withheld::Filter}}) {
    SCOPED_TRACE(w.function);
    try {
      EmulatedProcess process(GM_WIN32_MODULE, {}, {w.function});
      ASSERT_NE(w.when, Withheld::Load);
      if (w.when == Withheld::About) process.About();
      Image image = gm::test::Picture(32, 24, 3, 5);
      if (w.when == Withheld::Filter) process.Run(image, {});
      ADD_FAILURE() << "ran without it";
    } catch (const EmulationError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("unimplemented import ") + w.function), std::string::npos)
          << e.what();
    }
  }
}

// Every delivered buffer ends against an unmapped page: one byte past it faults.
TEST(Win32Faults, ByteAfterAHostBufferFaults) {
  REQUIRE_MODULE();
  EmulatedProcess process(GM_WIN32_MODULE);
  gm::win32::Machine& m = process.machine();
  const uint32_t code = m.Allocate(16);
  const uint8_t store[] = {0x8B, 0x44, 0x24, 0x04, 0xC6, 0x00, 0x01, 0xC3};  // mov eax,[esp+4]; mov byte [eax],1; ret
  m.Write(code, store, sizeof store);
  m.Protect(code & ~0xFFFu, 0x1000, UC_PROT_READ | UC_PROT_EXEC);
  const uint32_t buffer = m.Allocate(301, true);
  const uint32_t last[1] = {buffer + 300};
  EXPECT_NO_THROW(m.Call(code, last, Convention::Cdecl));
  const uint32_t past[1] = {buffer + 301};
  EXPECT_THROW(m.Call(code, past, Convention::Cdecl), EmulationError);
}

}  // namespace
