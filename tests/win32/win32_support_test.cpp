// The support layer inside the 32-bit test build of the module: its
// allocation operators serve the statically linked standard library from the
// host's blocks, its suite holders give their suites back at unload through
// the latest basic suite, and its watcher reports leaks on the debugger output.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/win32/EmulatedHost.h"

namespace {

using gm::win32::Convention;
using gm::win32::EmulatedProcess;
using gm::win32::HostEvent;

#define REQUIRE_SUPPORT_MODULE()                           \
  if (!std::filesystem::exists(GM_WIN32_SUPPORT_MODULE)) \
  GTEST_SKIP() << GM_WIN32_SUPPORT_MODULE << " is missing: build the win32 preset first"

// The test exports, called as cdecl functions.
struct SupportModule {
  EmulatedProcess process{GM_WIN32_SUPPORT_MODULE};

  uint32_t Call(const char* name, std::initializer_list<uint32_t> args) {
    const std::vector<uint32_t> list(args);
    return static_cast<uint32_t>(process.machine().Call(process.Export(name), list, Convention::Cdecl));
  }
  uint32_t Acquire(int number) { return Call("SupportTestAcquire", {static_cast<uint32_t>(number)}); }
  // Grows a string of `length` inside the module; gives back the result and
  // the string's final capacity and character address.
  int32_t Grow(uint32_t length, uint64_t& capacity, uint64_t& data) {
    const uint32_t out = process.machine().Allocate(16);
    const int32_t result = static_cast<int32_t>(Call("SupportTestGrowString", {length, out}));
    capacity = process.machine().Get<uint64_t>(out);
    data = process.machine().Get<uint64_t>(out + 8);
    return result;
  }
  std::vector<std::string> Sequence(bool withSuite) const {
    std::vector<std::string> lines;
    for (const HostEvent& e : process.events) {
      std::string line = e.what + " " + e.name;
      if (withSuite && e.suite) line = std::to_string(e.suite) + " " + line + " " + std::to_string(e.version);
      lines.push_back(line);
    }
    return lines;
  }
};

TEST(Win32Support, StandardLibraryInsideTheModuleUsesHostBlocks) {
  REQUIRE_SUPPORT_MODULE();
  SupportModule module;
  module.process.HandOver(module.process.BasicSuite(1));
  module.process.events.clear();

  uint64_t capacity = 0, data = 0;
  ASSERT_EQ(module.Grow(100, capacity, data), 0);
  const auto allocations = module.process.Events("allocate");
  ASSERT_FALSE(allocations.empty());
  // The last block holds the final text and its terminator, 8 bytes more,
  // and the characters start 4 bytes into it.
  EXPECT_EQ(allocations.back().size, capacity + 1 + 8);
  EXPECT_EQ(data, allocations.back().block + 4u);
  std::multiset<uint32_t> given, returned;
  for (const HostEvent& e : allocations) given.insert(e.block);
  for (const HostEvent& e : module.process.Events("free")) returned.insert(e.block);
  EXPECT_EQ(given, returned);

  module.process.events.clear();
  module.process.Unload();
  EXPECT_TRUE(module.process.events.empty()) << ::testing::PrintToString(module.Sequence(false));
}

TEST(Win32Support, UnloadReleasesThroughTheLatestBasicSuiteInReverseOrder) {
  REQUIRE_SUPPORT_MODULE();
  SupportModule module;
  module.process.HandOver(module.process.BasicSuite(1));
  EXPECT_EQ(module.Acquire(9), 0u);  // SP Access Suite
  module.process.HandOver(module.process.BasicSuite(2));
  EXPECT_EQ(module.Acquire(10), 0u);  // GetFileList
  EXPECT_EQ(module.Acquire(7), 0u);   // Handle
  module.process.events.clear();

  module.process.Unload();
  EXPECT_EQ(module.Sequence(true), (std::vector<std::string>{"2 release Photoshop GetFileList Suite for Plug-ins 4",
                                                             "2 release SP Access Suite 3",
                                                             "2 release Photoshop Handle Suite for Plug-ins 2"}));
}

TEST(Win32Support, PlantedLeakIsReportedAfterTheLastRelease) {
  REQUIRE_SUPPORT_MODULE();
  SupportModule module;
  module.process.HandOver(module.process.BasicSuite(1));
  EXPECT_EQ(module.Acquire(1), 0u);
  EXPECT_EQ(module.Acquire(16), 0u);
  module.process.events.clear();
  ASSERT_NE(module.Call("SupportTestLeak", {10}), 0u);
  ASSERT_EQ(module.process.Events("allocate").size(), 1u);
  EXPECT_EQ(module.process.Events("allocate")[0].size, 18u);
  module.process.events.clear();

  module.process.Unload();
  EXPECT_EQ(module.Sequence(false), (std::vector<std::string>{"release Photoshop Resource Suite for Plug-ins",
                                                              "release df135115-c769-11d0-8079-00c04fd7ec47",
                                                              "debug MW:INDEX NOT ZERO!\n",
                                                              "debug MW:MEMORY NOT ZERO!\n"}));
}

// Before any entry call nothing may reach the host; the refusals travel as
// raised values caught inside the module, so unwinding runs too.
TEST(Win32Support, BeforeAnyEntryCallNothingAsksTheHost) {
  REQUIRE_SUPPORT_MODULE();
  SupportModule module;
  EXPECT_EQ(module.Acquire(9), 0x5061726Du);
  uint64_t capacity = 0, data = 0;
  EXPECT_EQ(module.Grow(100, capacity, data), -50);
  module.process.Unload();
  EXPECT_TRUE(module.process.events.empty()) << ::testing::PrintToString(module.Sequence(false));
}

}  // namespace
