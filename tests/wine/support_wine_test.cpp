// The support layer inside a loaded Win64 module: its allocation operators
// serve the module's own standard library from the host's blocks, its suite
// holders give their suites back at unload through the latest basic suite,
// and its watcher speaks only when something is wrong.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "abi/HostTypes.h"
#include "host/FilterHost.h"
#include "io/Image.h"
#include "tests/wine/WinePath.h"

namespace {

using gm::test::WinePath;

// What the module asked of the host, and of which of two basic suites.
struct HostCall {
  int suite;  // 1 or 2
  std::string what;
  std::string name;
  int32_t version;
  size_t size;
  void* block;
};
std::vector<HostCall> hostCalls;
std::vector<std::string> debugLines;
int dummyTable[8];

// Debugger output reaches a process as an exception that the debugger, if
// any, would take; a first-chance handler sees the text before it is dropped.
LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
    debugLines.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]),
                            static_cast<size_t>(record->ExceptionInformation[0]) - 1);
    hostCalls.push_back({0, "debug", debugLines.back(), 0, 0, nullptr});
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

template <int N>
struct Recording {
  static int32_t Acquire(const char* name, int32_t version, const void** suite) {
    hostCalls.push_back({N, "acquire", name, version, 0, nullptr});
    *suite = dummyTable;
    return 0;
  }
  static int32_t Release(const char* name, int32_t version) {
    hostCalls.push_back({N, "release", name, version, 0, nullptr});
    return 0;
  }
  static int32_t Allocate(size_t size, void** block) {
    *block = std::malloc(size);
    hostCalls.push_back({N, "allocate", "", 0, size, *block});
    return *block ? 0 : -108;
  }
  static int32_t Free(void* block) {
    hostCalls.push_back({N, "free", "", 0, 0, block});
    std::free(block);
    return 0;
  }
  static inline SPBasicSuite table{Acquire, Release, nullptr, Allocate, Free, nullptr, nullptr};
};

struct GrownString {
  uint64_t capacity;
  uint64_t dataAddress;
};
using EntryFn = void (*)(int16_t, void*, intptr_t*, int16_t*);
using GrowFn = int (*)(uint32_t, GrownString*);
using AcquireFn = uint32_t (*)(int);
using LeakFn = void* (*)(uint32_t);

class Module {
 public:
  explicit Module(const char* path) : handle_(LoadLibraryA(WinePath(path).c_str())) {}
  ~Module() { Unload(); }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  void Unload() {
    if (handle_) FreeLibrary(handle_);
    handle_ = nullptr;
  }
  HMODULE get() const { return handle_; }
  template <typename F>
  F Function(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
  }
  // A Parameters call: the phase that does nothing but hand over the basic suite.
  void Call(SPBasicSuite* suite) const {
    struct {
      FilterRecord record;
      uint8_t tail[512];
    } storage{};
    storage.record.sSPBasic = suite;
    intptr_t data = 0;
    int16_t result = 0;
    Function<EntryFn>("PluginMain")(filterSelectorParameters, &storage.record, &data, &result);
  }

 private:
  HMODULE handle_;
};

class SupportInModule : public ::testing::Test {
 protected:
  void SetUp() override {
    hostCalls.clear();
    debugLines.clear();
    handler_ = AddVectoredExceptionHandler(1, CatchDebugOutput);
  }
  void TearDown() override { RemoveVectoredExceptionHandler(handler_); }
  static std::vector<HostCall> Of(const std::string& what) {
    std::vector<HostCall> calls;
    std::copy_if(hostCalls.begin(), hostCalls.end(), std::back_inserter(calls),
                 [&](const HostCall& c) { return c.what == what; });
    return calls;
  }

  void* handler_ = nullptr;
};

TEST_F(SupportInModule, DebugOutputIsCaught) {
  // Without this the silence checked below would prove nothing.
  OutputDebugStringA("MW:PROBE\n");
  EXPECT_EQ(debugLines, std::vector<std::string>{"MW:PROBE\n"});
}

TEST_F(SupportInModule, StandardLibraryInsideTheModuleUsesHostBlocks) {
  Module module(GM_MODULE_GLYPHMOSAICSUPPORTTEST);
  ASSERT_NE(module.get(), nullptr);
  module.Call(&Recording<1>::table);
  hostCalls.clear();

  GrownString grown{};
  ASSERT_EQ(module.Function<GrowFn>("SupportTestGrowString")(100, &grown), 0);
  const auto allocations = Of("allocate");
  const auto frees = Of("free");
  ASSERT_FALSE(allocations.empty());
  // The last block holds the final text and its terminator, 8 bytes more,
  // and the string's characters start 4 bytes into it.
  EXPECT_EQ(allocations.back().size, grown.capacity + 1 + 8);
  EXPECT_EQ(grown.dataAddress, reinterpret_cast<uintptr_t>(allocations.back().block) + 4);
  std::multiset<void*> given, returned;
  for (const HostCall& c : allocations) given.insert(c.block);
  for (const HostCall& c : frees) returned.insert(c.block);
  EXPECT_EQ(given, returned);
  EXPECT_TRUE(debugLines.empty());

  // The process's own new never reaches the module's operators.
  hostCalls.clear();
  auto own = std::make_unique<std::string>(200, 'x');
  own.reset();
  EXPECT_TRUE(hostCalls.empty());

  module.Unload();
  EXPECT_TRUE(debugLines.empty());
  EXPECT_TRUE(Of("allocate").empty());
}

TEST_F(SupportInModule, UnloadReleasesThroughTheLatestBasicSuiteInReverseOrder) {
  Module module(GM_MODULE_GLYPHMOSAICSUPPORTTEST);
  ASSERT_NE(module.get(), nullptr);
  const auto acquire = module.Function<AcquireFn>("SupportTestAcquire");
  module.Call(&Recording<1>::table);
  EXPECT_EQ(acquire(9), 0u);   // SP Access Suite
  module.Call(&Recording<2>::table);
  EXPECT_EQ(acquire(10), 0u);  // GetFileList
  EXPECT_EQ(acquire(7), 0u);   // Handle
  hostCalls.clear();

  module.Unload();
  std::vector<std::string> released;
  for (const HostCall& c : hostCalls) {
    released.push_back(std::to_string(c.suite) + " " + c.what + " " + c.name + " " + std::to_string(c.version));
  }
  EXPECT_EQ(released, (std::vector<std::string>{"2 release Photoshop GetFileList Suite for Plug-ins 4",
                                                "2 release SP Access Suite 3",
                                                "2 release Photoshop Handle Suite for Plug-ins 2"}));
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportInModule, LeakReportComesAfterTheLastRelease) {
  Module module(GM_MODULE_GLYPHMOSAICSUPPORTTEST);
  ASSERT_NE(module.get(), nullptr);
  module.Call(&Recording<1>::table);
  EXPECT_EQ(module.Function<AcquireFn>("SupportTestAcquire")(1), 0u);
  EXPECT_EQ(module.Function<AcquireFn>("SupportTestAcquire")(16), 0u);
  hostCalls.clear();
  void* leaked = module.Function<LeakFn>("SupportTestLeak")(10);
  ASSERT_NE(leaked, nullptr);
  ASSERT_EQ(Of("allocate").size(), 1u);
  EXPECT_EQ(Of("allocate")[0].size, 18u);
  hostCalls.clear();

  module.Unload();
  std::vector<std::string> sequence;
  for (const HostCall& c : hostCalls) sequence.push_back(c.what + " " + c.name);
  EXPECT_EQ(sequence, (std::vector<std::string>{"release Photoshop Resource Suite for Plug-ins",
                                                "release df135115-c769-11d0-8079-00c04fd7ec47",
                                                "debug MW:INDEX NOT ZERO!\n", "debug MW:MEMORY NOT ZERO!\n"}));
  std::free(static_cast<char*>(leaked) - 4);  // the host's block, never given back
}

TEST_F(SupportInModule, LoadAndUnloadAloneAskNothing) {
  {
    Module module(GM_MODULE_GLYPHMOSAICSUPPORTTEST);
    ASSERT_NE(module.get(), nullptr);
    // Before any entry call an acquisition is refused without asking the host.
    EXPECT_EQ(module.Function<AcquireFn>("SupportTestAcquire")(9), 0x5061726Du);
    GrownString grown{};
    EXPECT_EQ(module.Function<GrowFn>("SupportTestGrowString")(100, &grown), -50);
  }
  EXPECT_TRUE(hostCalls.empty());
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportInModule, ShippedModuleRunsAWholeFilterSilently) {
  Module module(GM_MODULE_GLYPHMOSAIC);
  ASSERT_NE(module.get(), nullptr);
  gm::Image image;
  image.width = 64;
  image.height = 48;
  image.channels = 3;
  image.pixels.resize(static_cast<size_t>(image.width) * image.height * image.channels);
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<uint8_t>(i * 37);
  {
    gm::host::FilterHost host(module.Function<gm::host::PluginEntry>("PluginMain"));
    const gm::host::RunReport report = host.Run(image);
    EXPECT_TRUE(report.Succeeded());
    EXPECT_FALSE(report.deliveries.empty());
    EXPECT_EQ(host.BlocksAllocated(), 0);
    module.Unload();
  }
  EXPECT_TRUE(debugLines.empty());
}

}  // namespace
