// The host support layer: suite holders, the host-block allocator with its
// watcher, and the module instance handle, driven as the module drives them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "entry/Entry.h"
#include "entry/Platform.h"
#include "support/MemoryWatcher.h"
#include "support/ModuleInstance.h"
#include "support/SuiteHolder.h"
#include "tests/fakes/HostSuites.h"

namespace {

using gm::test::BasicSuiteHost;
using gm::test::SuiteCall;

std::vector<std::string> debugLines;
void RecordDebugLine(const char* line) { debugLines.emplace_back(line); }

template <typename T, typename F>
std::optional<T> Raised(F&& f) {
  try {
    f();
  } catch (T value) {
    return value;
  }
  return std::nullopt;
}

struct HolderSpec {
  SuiteHolder* holder;
  const char* name;
  int32_t version;
};

// Construction order, which is also the order of the table a host sees.
const HolderSpec kHolders[16] = {
    {&suiteDF135115, "df135115-c769-11d0-8079-00c04fd7ec47", 2},
    {&suiteBC1E4D70, "bc1e4d70-f953-11d0-8d9f-00c04fd5f7ee", 2},
    {&suiteDF135117, "df135117-c769-11d0-8079-00c04fd7ec47", 2},
    {&suiteDF135116, "df135116-c769-11d0-8079-00c04fd7ec47", 1},
    {&suite61E608B0, "61e608b0-40fd-11d1-8da3-00c04fd5f7ee", 1},
    {&uiHooksSuite, "Photoshop UIHooks Suite for Plug-ins", 1},
    {&handleSuite, "Photoshop Handle Suite for Plug-ins", 2},
    {&zstringSuite, "AS ZString Suite", 1},
    {&accessSuite, "SP Access Suite", 3},
    {&getFileListSuite, "Photoshop GetFileList Suite for Plug-ins", 4},
    {&bufferSuite, "Photoshop Buffer Suite for Plug-ins", 1},
    {&channelPortsSuite, "Photoshop ChannelPorts Suite for Plug-ins", 3},
    {&runtimeSuite, "SP Runtime Suite", 5},
    {&propertySuite, "Photoshop Property Suite for Plug-ins", 1},
    {&aliasUtilitySuite, "Photoshop Alias Utility Suite", 1},
    {&resourceSuite, "Photoshop Resource Suite for Plug-ins", 3},
};

// A basic suite that forwards to the built-in host's and lets a test see and
// bend the block traffic: sizes asked for, blocks given back, odd answers.
struct BlockTraffic {
  SPBasicSuite* inner = nullptr;
  std::vector<size_t> allocations;
  std::vector<void*> frees;
  bool failAllocation = false;
  bool succeedWithoutBlock = false;
  void* handOutAgain = nullptr;  // a block the host gives out a second time
};
BlockTraffic traffic;

int32_t TrafficAcquire(const char* name, int32_t version, const void** suite) {
  return traffic.inner->AcquireSuite(name, version, suite);
}
int32_t TrafficRelease(const char* name, int32_t version) { return traffic.inner->ReleaseSuite(name, version); }
int32_t TrafficAllocate(size_t size, void** block) {
  traffic.allocations.push_back(size);
  if (traffic.failAllocation) return -108;
  if (traffic.succeedWithoutBlock) return 0;
  if (traffic.handOutAgain) {
    *block = traffic.handOutAgain;
    return 0;
  }
  return traffic.inner->AllocateBlock(size, block);
}
int32_t TrafficFree(void* block) {
  traffic.frees.push_back(block);
  return traffic.inner->FreeBlock(block);
}
SPBasicSuite trafficSuite{TrafficAcquire, TrafficRelease, nullptr, TrafficAllocate, TrafficFree, nullptr, nullptr};

class SupportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    debugLines.clear();
    SetPlatformDebugSink(RecordDebugLine);
    traffic = BlockTraffic{};
    traffic.inner = host.BasicSuite();
    memoryWatcher = MemoryWatcher{};
    for (const HolderSpec& spec : kHolders) host.OfferSuite(spec.name, spec.version, &spec);
  }
  void TearDown() override {
    hostBasicSuite = nullptr;
    for (const HolderSpec& spec : kHolders) spec.holder->suite = nullptr;
    memoryWatcher = MemoryWatcher{};
    SetPlatformDebugSink(nullptr);
  }
  void UseHost() { hostBasicSuite = &trafficSuite; }
  std::vector<std::string> Calls(SuiteCall::Kind kind) const {
    std::vector<std::string> names;
    for (const SuiteCall& call : host.SuiteCalls()) {
      if (call.kind == kind) names.push_back(call.name + "/" + std::to_string(call.version));
    }
    return names;
  }

  BasicSuiteHost host;
};

// ---- Suite holders ---------------------------------------------------------

TEST_F(SupportTest, HolderAcquiresOnceAndKeepsTheTable) {
  UseHost();
  const void* first = accessSuite.Get();
  const void* second = accessSuite.Get();
  EXPECT_EQ(first, &kHolders[8]);
  EXPECT_EQ(second, first);
  EXPECT_EQ(Calls(SuiteCall::Acquire), std::vector<std::string>{"SP Access Suite/3"});
}

TEST_F(SupportTest, HolderRaisesUnsignedCodesAndTriesAgain) {
  // Without a basic suite: 'Parm', no host call, holder unchanged.
  auto raised = Raised<uint32_t>([] { accessSuite.Get(); });
  ASSERT_TRUE(raised);
  EXPECT_EQ(*raised, 0x5061726Du);
  EXPECT_TRUE(host.SuiteCalls().empty());
  EXPECT_EQ(accessSuite.suite, nullptr);

  // A host that does not know the suite: its code, kept, and asked again next time.
  BasicSuiteHost bare;
  traffic.inner = bare.BasicSuite();
  UseHost();
  for (int attempt = 1; attempt <= 2; ++attempt) {
    raised = Raised<uint32_t>([] { propertySuite.Get(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(*raised, 0x53214664u);
    EXPECT_EQ(propertySuite.acquireError, 0x53214664);
    EXPECT_EQ(propertySuite.suite, nullptr);
    EXPECT_EQ(bare.SuiteCalls().size(), static_cast<size_t>(attempt));
  }
}

TEST_F(SupportTest, HolderReleaseOnlyWhatIsHeldAndOnlyWithABasicSuite) {
  UseHost();
  handleSuite.Release();  // never acquired
  EXPECT_TRUE(Calls(SuiteCall::Release).empty());

  handleSuite.Get();
  hostBasicSuite = nullptr;
  handleSuite.Release();  // keeps the pointer for later
  EXPECT_NE(handleSuite.suite, nullptr);
  EXPECT_TRUE(Calls(SuiteCall::Release).empty());

  UseHost();
  handleSuite.Release();
  EXPECT_EQ(handleSuite.suite, nullptr);
  EXPECT_EQ(Calls(SuiteCall::Release), std::vector<std::string>{"Photoshop Handle Suite for Plug-ins/2"});

  handleSuite.Get();  // acquired anew after a release
  EXPECT_EQ(Calls(SuiteCall::Acquire).size(), 2u);
}

TEST_F(SupportTest, ReleaseAllSuitesPutsHandleBeforeUIHooks) {
  UseHost();
  std::vector<std::string> acquiredOrder;
  for (const HolderSpec& spec : kHolders) {
    EXPECT_EQ(spec.holder->Get(), &spec) << spec.name;
    acquiredOrder.push_back(std::string(spec.name) + "/" + std::to_string(spec.version));
  }
  EXPECT_EQ(Calls(SuiteCall::Acquire), acquiredOrder);

  ReleaseAllSuites();
  std::vector<std::string> expected;
  for (int number : {1, 2, 3, 4, 5, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16}) {
    expected.push_back(acquiredOrder[number - 1]);
  }
  EXPECT_EQ(Calls(SuiteCall::Release), expected);
  for (const HolderSpec& spec : kHolders) EXPECT_EQ(spec.holder->suite, nullptr);
}

// At unload a child process exits; its registered clean-ups release the held
// suites from the last holder to the first and then report leaks.
int32_t EchoAcquire(const char*, int32_t, const void** suite) {
  static const int table = 0;
  *suite = &table;
  return 0;
}
int32_t EchoRelease(const char* name, int32_t version) {
  std::fprintf(stderr, "R:%s:%d\n", name, version);
  return 0;
}
alignas(16) unsigned char arena[256];
int32_t ArenaAllocate(size_t size, void** block) {
  static size_t used = 0;
  if (used + size > sizeof arena) return -108;
  *block = arena + used;
  used += (size + 15) & ~size_t{15};
  return 0;
}
int32_t ArenaFree(void*) { return 0; }
SPBasicSuite echoSuite{EchoAcquire, EchoRelease, nullptr, ArenaAllocate, ArenaFree, nullptr, nullptr};

void ExitAfter(std::initializer_list<SuiteHolder*> acquire, int leakedBlocks) {
  SetPlatformDebugSink(nullptr);  // leak lines go to standard error beside the releases
  hostBasicSuite = &echoSuite;
  for (SuiteHolder* holder : acquire) holder->Get();
  for (int i = 0; i < leakedBlocks; ++i) ModuleAllocate(4);
  std::exit(0);
}

TEST_F(SupportTest, UnloadReleasesFromLastHolderToFirstThenChecksLeaks) {
  EXPECT_EXIT(ExitAfter({&accessSuite, &getFileListSuite}, 0), ::testing::ExitedWithCode(0),
              "^R:Photoshop GetFileList Suite for Plug-ins:4\nR:SP Access Suite:3\n$");

  std::string all;
  for (int i = 15; i >= 0; --i) {
    all += "R:" + std::string(kHolders[i].name) + ":" + std::to_string(kHolders[i].version) + "\n";
  }
  EXPECT_EXIT(ExitAfter({&suiteDF135115, &suiteBC1E4D70, &suiteDF135117, &suiteDF135116, &suite61E608B0,
                         &uiHooksSuite, &handleSuite, &zstringSuite, &accessSuite, &getFileListSuite, &bufferSuite,
                         &channelPortsSuite, &runtimeSuite, &propertySuite, &aliasUtilitySuite, &resourceSuite},
                        2),
              ::testing::ExitedWithCode(0),
              "^" + all + "MW:INDEX NOT ZERO!\nMW:MEMORY NOT ZERO!\nMW:MEMORY NOT ZERO!\n$");

  // Nothing acquired, nothing allocated: no host call and no line at all.
  EXPECT_EXIT(ExitAfter({}, 0), ::testing::ExitedWithCode(0), "^$");
}

// ---- Host-block allocator and watcher --------------------------------------

TEST_F(SupportTest, AllocationTakesSignedHostBlocks) {
  UseHost();
  struct Case {
    size_t request;
    uint32_t total;
  };
  for (const Case c : {Case{10, 18}, Case{0, 8}, Case{1000, 1008}}) {
    SCOPED_TRACE(c.request);
    traffic.allocations.clear();
    auto* p = static_cast<uint8_t*>(ModuleAllocate(c.request));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(traffic.allocations, std::vector<size_t>{c.total});
    EXPECT_EQ(host.OutstandingBytes(), c.total);
    const uint8_t* block = p - 4;
    for (uint32_t i = 0; i < c.total; ++i) ASSERT_EQ(block[i], 0x41) << i;
    ASSERT_EQ(memoryWatcher.count, 1);
    EXPECT_EQ(memoryWatcher.pointers[0], p);
    EXPECT_EQ(memoryWatcher.sizes[0], c.total);

    ModuleRelease(p);
    EXPECT_EQ(traffic.frees, std::vector<void*>{p - 4});
    traffic.frees.clear();
    EXPECT_EQ(memoryWatcher.count, 0);
    EXPECT_EQ(memoryWatcher.pointers[0], nullptr);
    EXPECT_EQ(memoryWatcher.sizes[0], 0u);
  }
  EXPECT_EQ(host.OutstandingBlocks(), 0u);
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportTest, AllocationFailuresRaiseSignedCodes) {
  struct Case {
    const char* what;
    bool basicSuite;
    bool hostFails;
    size_t request;
    int16_t code;
    size_t hostCalls;
  };
  const Case cases[] = {
      {"before the first entry call", false, false, 10, -50, 0},
      {"host out of memory", true, true, 10, -108, 1},
      {"request past 32 bits", true, false, size_t{UINT32_MAX} - 7, -108, 0},
      {"largest request that fits", true, true, size_t{UINT32_MAX} - 8, -108, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    traffic.allocations.clear();
    traffic.failAllocation = c.hostFails;
    hostBasicSuite = c.basicSuite ? &trafficSuite : nullptr;
    auto raised = Raised<int16_t>([&] { ModuleAllocate(c.request); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(*raised, c.code);
    EXPECT_EQ(traffic.allocations.size(), c.hostCalls);
    if (c.hostCalls) {
      EXPECT_EQ(traffic.allocations.back(), c.request + 8);
    }
    EXPECT_EQ(memoryWatcher.count, 0);
  }
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportTest, HostSuccessWithoutBlockGivesNull) {
  UseHost();
  traffic.succeedWithoutBlock = true;
  EXPECT_EQ(ModuleAllocate(16), nullptr);
  EXPECT_EQ(memoryWatcher.count, 0);
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportTest, ReleaseReportsDamagedSignaturesAndStillGivesBack) {
  UseHost();
  struct Case {
    const char* what;
    ptrdiff_t offset;  // from the caller's pointer
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"byte past the end", 10, {"MW:BAD SIGNATURE AT END!\n"}},
      {"last end byte", 13, {"MW:BAD SIGNATURE AT END!\n"}},
      {"byte before the start", -1, {"MW:BAD SIGNATURE AT BEGINNING!\n"}},
      {"first byte of the block", -4, {"MW:BAD SIGNATURE AT BEGINNING!\n"}},
      {"inside the caller's bytes", 9, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    debugLines.clear();
    auto* p = static_cast<uint8_t*>(ModuleAllocate(10));
    p[c.offset] = 0;
    ModuleRelease(p);
    EXPECT_EQ(debugLines, c.lines);
    EXPECT_EQ(memoryWatcher.count, 0);
    EXPECT_EQ(host.OutstandingBlocks(), 0u);
  }
  // Both sides at once: beginning first.
  debugLines.clear();
  auto* p = static_cast<uint8_t*>(ModuleAllocate(0));
  p[-2] = p[3] = 'x';
  ModuleRelease(p);
  EXPECT_EQ(debugLines, (std::vector<std::string>{"MW:BAD SIGNATURE AT BEGINNING!\n", "MW:BAD SIGNATURE AT END!\n"}));
}

TEST_F(SupportTest, ReleasingNullGivesNullToTheHostOnly) {
  UseHost();
  ModuleRelease(nullptr);
  EXPECT_EQ(traffic.frees, std::vector<void*>{nullptr});
  hostBasicSuite = nullptr;
  ModuleRelease(nullptr);
  EXPECT_EQ(traffic.frees.size(), 1u);
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportTest, ReleaseWithoutBasicSuiteForgetsButKeepsTheBlock) {
  UseHost();
  void* p = ModuleAllocate(4);
  hostBasicSuite = nullptr;
  ModuleRelease(p);
  EXPECT_EQ(memoryWatcher.count, 0);
  EXPECT_TRUE(traffic.frees.empty());
  EXPECT_EQ(host.OutstandingBlocks(), 1u);
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportTest, TableKeepsOrderAfterRemovals) {
  UseHost();
  void* blocks[3];
  for (void*& b : blocks) b = ModuleAllocate(1);
  ModuleRelease(blocks[1]);
  EXPECT_EQ(memoryWatcher.count, 2);
  EXPECT_EQ(memoryWatcher.pointers[0], blocks[0]);
  EXPECT_EQ(memoryWatcher.pointers[1], blocks[2]);
  EXPECT_EQ(memoryWatcher.sizes[1], 9u);
  EXPECT_EQ(memoryWatcher.pointers[2], nullptr);
  EXPECT_EQ(memoryWatcher.sizes[2], 0u);
  ModuleRelease(blocks[0]);
  ModuleRelease(blocks[2]);
  EXPECT_TRUE(debugLines.empty());
}

TEST_F(SupportTest, FullTableHandsOutUnrecordedBlocks) {
  UseHost();
  std::vector<void*> recorded;
  for (int i = 0; i < 500; ++i) recorded.push_back(ModuleAllocate(static_cast<size_t>(i)));
  EXPECT_TRUE(debugLines.empty());

  // The 501st: usable, unrecorded, reported.
  auto* extra = static_cast<uint8_t*>(ModuleAllocate(3));
  ASSERT_NE(extra, nullptr);
  std::memcpy(extra, "abc", 3);
  EXPECT_EQ(debugLines, std::vector<std::string>{"MW:MEMCHECK FULL!\n"});
  EXPECT_EQ(memoryWatcher.count, 500);
  EXPECT_EQ(memoryWatcher.SizeOf(extra), 0u);

  // Its release: no size (its end is never read), not found, given back.
  debugLines.clear();
  ModuleRelease(extra);
  EXPECT_EQ(debugLines, (std::vector<std::string>{"MW:NO SIZE!\n", "MW:NOT FOUND!\n"}));
  EXPECT_EQ(traffic.frees.back(), extra - 4);

  // Any recorded block out of a full table leaves the rest in order.
  debugLines.clear();
  ModuleRelease(recorded[123]);
  recorded.erase(recorded.begin() + 123);
  EXPECT_EQ(memoryWatcher.count, 499);
  EXPECT_EQ(memoryWatcher.pointers[499], nullptr);
  EXPECT_EQ(memoryWatcher.sizes[499], 0u);
  for (int i = 0; i < 499; ++i) ASSERT_EQ(memoryWatcher.pointers[i], recorded[i]) << i;
  EXPECT_EQ(memoryWatcher.sizes[123], 124u + 8u);

  // An unrecorded block coming back to an empty table.
  ModuleAllocate(0);  // refills to 500
  auto* late = static_cast<uint8_t*>(ModuleAllocate(0));
  EXPECT_EQ(debugLines, std::vector<std::string>{"MW:MEMCHECK FULL!\n"});
  for (int i = memoryWatcher.count - 1; i >= 0; --i) ModuleRelease(memoryWatcher.pointers[i]);
  debugLines.clear();
  ModuleRelease(late);
  EXPECT_EQ(debugLines, (std::vector<std::string>{"MW:NO SIZE!\n", "MW:EMPTY!\n"}));
  EXPECT_EQ(host.OutstandingBlocks(), 0u);
}

TEST_F(SupportTest, SameBlockTwiceIsRecordedOnce) {
  UseHost();
  void* first = ModuleAllocate(6);
  traffic.handOutAgain = static_cast<uint8_t*>(first) - 4;
  void* second = ModuleAllocate(6);
  EXPECT_EQ(second, first);
  EXPECT_EQ(debugLines, std::vector<std::string>{"MW:MEMCHECK AGAIN!\n"});
  EXPECT_EQ(memoryWatcher.count, 1);
  ModuleRelease(first);
}

TEST_F(SupportTest, LeakCheckReportsEveryRecordedBlock) {
  memoryWatcher.CheckLeaks();
  EXPECT_TRUE(debugLines.empty());

  UseHost();
  void* a = ModuleAllocate(1);
  void* b = ModuleAllocate(2);
  memoryWatcher.CheckLeaks();
  EXPECT_EQ(debugLines,
            (std::vector<std::string>{"MW:INDEX NOT ZERO!\n", "MW:MEMORY NOT ZERO!\n", "MW:MEMORY NOT ZERO!\n"}));
  EXPECT_EQ(memoryWatcher.count, 2);  // reports only
  ModuleRelease(a);
  ModuleRelease(b);
}

TEST_F(SupportTest, WatcherStandsAlone) {
  // Register and Unregister without a host: a block the test owns.
  MemoryWatcher watcher;
  alignas(8) uint8_t block[12];
  EXPECT_EQ(watcher.Register(nullptr, 12), nullptr);
  EXPECT_EQ(watcher.count, 0);
  void* p = watcher.Register(block, sizeof block);
  EXPECT_EQ(p, block + 4);
  EXPECT_EQ(watcher.SizeOf(p), 12u);
  EXPECT_EQ(watcher.Unregister(nullptr), nullptr);
  EXPECT_EQ(watcher.Unregister(p), block);
  EXPECT_EQ(watcher.SizeOf(p), 0u);
  EXPECT_TRUE(debugLines.empty());
}

// ---- Module instance -------------------------------------------------------

TEST_F(SupportTest, ModuleInstanceFromTheAccessSuite) {
  gm::test::AccessSuiteHost access;
  host.OfferSuite("SP Access Suite", 3, access.Suite());
  int plugin = 0;
  const uintptr_t first = 0x10000, second = 0x20000;
  void* const stored = reinterpret_cast<void*>(0x400000);

  struct Case {
    const char* what;
    int32_t accessError;
    bool accessLeftNull;
    int32_t infoError;
    uintptr_t firstWord, secondWord;
    uintptr_t expected;  // 1 stands for "the stored handle, unchanged"
    int infoCalls;
  };
  const Case cases[] = {
      {"both words set", 0, false, 0, first, second, second, 1},
      {"second word null", 0, false, 0, first, 0, first, 1},
      {"both words null", 0, false, 0, 0, 0, 0, 1},
      {"3rd function fails", -5, false, 0, first, second, 1, 0},
      {"3rd function leaves no reference", 0, true, 0, first, second, 1, 0},
      {"7th function fails", 0, false, -7, first, second, 0, 1},
  };
  UseHost();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    moduleInstance = stored;
    access.accessCalls = access.infoCalls = 0;
    access.accessError = c.accessError;
    access.accessLeftNull = c.accessLeftNull;
    access.infoError = c.infoError;
    access.AddPlugin(&plugin, c.firstWord, c.secondWord);
    void* const expected = c.expected == 1 ? stored : reinterpret_cast<void*>(c.expected);
    EXPECT_EQ(GetModuleInstance(&plugin), expected);
    EXPECT_EQ(moduleInstance, expected);
    EXPECT_EQ(access.accessCalls, 1);
    EXPECT_EQ(access.infoCalls, c.infoCalls);
  }
  // One acquisition for all of them.
  EXPECT_EQ(Calls(SuiteCall::Acquire), std::vector<std::string>{"SP Access Suite/3"});
  moduleInstance = nullptr;
}

TEST_F(SupportTest, ModuleInstanceWithoutReferenceAsksNobody) {
  void* const stored = reinterpret_cast<void*>(0x400000);
  moduleInstance = stored;
  EXPECT_EQ(GetModuleInstance(nullptr), stored);
  int plugin = 0;
  auto raised = Raised<uint32_t>([&] { GetModuleInstance(&plugin); });  // no basic suite yet
  ASSERT_TRUE(raised);
  EXPECT_EQ(*raised, 0x5061726Du);
  EXPECT_EQ(moduleInstance, stored);
  EXPECT_TRUE(host.SuiteCalls().empty());
  moduleInstance = nullptr;
}

}  // namespace
