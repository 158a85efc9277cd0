// The host-block allocator and its memory watcher under random traffic:
// allocations of any size, releases in any order, damaged signatures, double
// releases, a host that fails, hands out nothing or hands out a block twice,
// and calls made with no basic suite. After every step the watcher's table
// must keep its invariants and match a model kept beside it, and the "MW:"
// lines written must be exactly those the step calls for.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entry/Entry.h"
#include "entry/Platform.h"
#include "fuzz/ByteReader.h"
#include "fuzz/Check.h"
#include "support/MemoryWatcher.h"

namespace {

using gm::fuzz::ByteReader;

constexpr int kMaxSteps = 3000;
constexpr size_t kLargestBlock = 1 << 20;  // the fake host's memory ends here
constexpr uint8_t kSig = MemoryWatcher::kSignatureByte;

// The fake host's heap. Every block is allocated to exactly its size; a
// released block is kept (not reused) until the input ends, because the
// watcher reads the signature in front of a pointer it is handed a second
// time, and a host's heap would still hold those bytes.
struct HostBlock {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
  bool live;
};

struct State {
  ByteReader* in = nullptr;
  std::map<uint8_t*, HostBlock> heap;
  std::vector<std::string> lines;
  // What the next AllocateBlock call should look like, and what it did.
  int allocateCalls = 0;
  size_t askedSize = 0;
  std::vector<void*> freed;
  int badFrees = 0;

  // The model of the watcher's table, in order.
  std::vector<std::pair<void*, uint32_t>> table;
  // Every pointer handed out, with the request it answered, released or not.
  struct Handed {
    uint8_t* p;
    size_t n;
  };
  std::vector<Handed> handed;
};

State* state = nullptr;

void CaptureLine(const char* line) { state->lines.emplace_back(line); }

uint8_t* LiveBlockOfAtLeast(size_t size) {
  std::vector<uint8_t*> fits;
  for (auto& [address, block] : state->heap) {
    if (block.live && block.size >= size) fits.push_back(address);
  }
  if (fits.empty()) return nullptr;
  return fits[static_cast<size_t>(state->in->Range(0, static_cast<int64_t>(fits.size()) - 1))];
}

int32_t FakeAllocateBlock(size_t size, void** block) {
  State& s = *state;
  ++s.allocateCalls;
  s.askedSize = size;
  GM_FUZZ_CHECK(*block == nullptr);
  if (size > kLargestBlock) return -108;
  switch (s.in->Range(0, 15)) {
    case 0: {
      const int32_t code = s.in->Read<int32_t>();
      return code == 0 ? -108 : code;
    }
    case 1: return 0;  // success without a block
    case 2:
      if (uint8_t* again = LiveBlockOfAtLeast(size)) {
        *block = again;
        return 0;
      }
      break;
    default: break;
  }
  auto bytes = std::make_unique<uint8_t[]>(size);
  uint8_t* address = bytes.get();
  s.heap[address] = HostBlock{std::move(bytes), size, true};
  *block = address;
  return 0;
}

int32_t FakeFreeBlock(void* block) {
  State& s = *state;
  s.freed.push_back(block);
  if (!block) return 0;
  auto it = s.heap.find(static_cast<uint8_t*>(block));
  if (it == s.heap.end() || !it->second.live) {
    ++s.badFrees;
    return -1;
  }
  it->second.live = false;
  return 0;
}

SPBasicSuite fakeSuite = {nullptr, nullptr, nullptr, FakeAllocateBlock, FakeFreeBlock, nullptr, nullptr};

void CheckTable() {
  const MemoryWatcher& w = memoryWatcher;
  const State& s = *state;
  GM_FUZZ_CHECK(w.count >= 0 && w.count <= MemoryWatcher::kCapacity);
  GM_FUZZ_CHECK(static_cast<size_t>(w.count) == s.table.size());
  for (int32_t i = 0; i < MemoryWatcher::kCapacity; ++i) {
    if (i < w.count) {
      GM_FUZZ_CHECK(w.pointers[i] != nullptr);
      GM_FUZZ_CHECK(w.pointers[i] == s.table[static_cast<size_t>(i)].first);
      GM_FUZZ_CHECK(w.sizes[i] == s.table[static_cast<size_t>(i)].second);
    } else {
      GM_FUZZ_CHECK(w.pointers[i] == nullptr && w.sizes[i] == 0);
    }
  }
  // No address twice: the model records an address only when it is not
  // already there, so matching it entry for entry rules repeats out. (A
  // pairwise check of a full table after every step was most of the time.)
}

bool SignatureIntact(const uint8_t* bytes) {
  return bytes[0] == kSig && bytes[1] == kSig && bytes[2] == kSig && bytes[3] == kSig;
}

size_t RequestSize(ByteReader& in) {
  switch (in.Range(0, 15)) {
    case 0: return SIZE_MAX - static_cast<size_t>(in.Range(0, 16));
    case 1: return size_t{UINT32_MAX} - static_cast<size_t>(in.Range(0, 16));
    case 2: return static_cast<size_t>(in.Range(0, 4096));
    default: return static_cast<size_t>(in.Range(0, 40));
  }
}

void Allocate(State& s, size_t n) {
  s.lines.clear();
  s.allocateCalls = 0;
  const bool haveSuite = hostBasicSuite != nullptr;
  std::optional<int16_t> raised;
  void* p = nullptr;
  try {
    p = ModuleAllocate(n);
  } catch (int16_t value) {
    raised = value;
  }
  if (!haveSuite) {
    GM_FUZZ_CHECK(raised == paramErr && s.allocateCalls == 0 && s.lines.empty());
    return;
  }
  if (n > UINT32_MAX - MemoryWatcher::Overhead()) {
    // A wrapped size would be a tiny block under a huge request.
    GM_FUZZ_CHECK(raised.has_value() && s.allocateCalls == 0 && s.lines.empty());
    return;
  }
  GM_FUZZ_CHECK(s.allocateCalls == 1 && s.askedSize == n + 8);
  if (raised) {
    GM_FUZZ_CHECK(*raised == memFullErr && s.lines.empty());
    return;
  }
  if (!p) {
    GM_FUZZ_CHECK(s.lines.empty());
    return;
  }
  uint8_t* block = static_cast<uint8_t*>(p) - 4;
  for (size_t i = 0; i < n + 8; ++i) GM_FUZZ_CHECK(block[i] == kSig);
  std::vector<std::string> expected;
  const bool recorded = std::any_of(s.table.begin(), s.table.end(), [&](auto& e) { return e.first == p; });
  if (s.table.size() == MemoryWatcher::kCapacity) {
    expected.push_back("MW:MEMCHECK FULL!\n");
  } else if (recorded) {
    expected.push_back("MW:MEMCHECK AGAIN!\n");
  } else {
    s.table.emplace_back(p, static_cast<uint32_t>(n + 8));
  }
  GM_FUZZ_CHECK(s.lines == expected);
  s.handed.push_back({static_cast<uint8_t*>(p), n});
}

void Release(State& s, uint8_t* p) {
  std::vector<std::string> expected;
  if (p) {
    uint32_t total = 0;
    auto entry = std::find_if(s.table.begin(), s.table.end(), [&](auto& e) { return e.first == p; });
    if (entry != s.table.end()) total = entry->second;
    if (!SignatureIntact(p - 4)) expected.push_back("MW:BAD SIGNATURE AT BEGINNING!\n");
    if (total == 0) {
      expected.push_back("MW:NO SIZE!\n");
    } else if (!SignatureIntact(p + total - 8)) {
      expected.push_back("MW:BAD SIGNATURE AT END!\n");
    }
    if (s.table.empty()) {
      expected.push_back("MW:EMPTY!\n");
    } else if (entry == s.table.end()) {
      expected.push_back("MW:NOT FOUND!\n");
    } else {
      s.table.erase(entry);
    }
  }
  s.lines.clear();
  s.freed.clear();
  const bool haveSuite = hostBasicSuite != nullptr;
  ModuleRelease(p);
  GM_FUZZ_CHECK(s.lines == expected);
  if (haveSuite) {
    GM_FUZZ_CHECK(s.freed.size() == 1 && s.freed[0] == (p ? p - 4 : nullptr));
  } else {
    GM_FUZZ_CHECK(s.freed.empty());
  }
}

void CheckLeaks(State& s) {
  std::vector<std::string> expected;
  if (!s.table.empty()) expected.push_back("MW:INDEX NOT ZERO!\n");
  for (size_t i = 0; i < s.table.size(); ++i) expected.push_back("MW:MEMORY NOT ZERO!\n");
  s.lines.clear();
  memoryWatcher.CheckLeaks();
  GM_FUZZ_CHECK(s.lines == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  State s;
  s.in = &in;
  state = &s;
  memoryWatcher = MemoryWatcher{};
  hostBasicSuite = &fakeSuite;
  SetPlatformDebugSink(CaptureLine);

  for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) {
    switch (in.Range(0, 9)) {
      case 0:
      case 1:
        Allocate(s, RequestSize(in));
        break;
      case 2: {  // a burst, to reach a full table quickly
        const int64_t count = in.Range(1, 128);
        for (int64_t i = 0; i < count; ++i) {
          Allocate(s, static_cast<size_t>(in.Range(0, 16)));
          CheckTable();
        }
        break;
      }
      case 3:
      case 4:
      case 5:  // any pointer ever handed out: a double release when it went back already
        if (!s.handed.empty()) {
          const size_t i = static_cast<size_t>(in.Range(0, static_cast<int64_t>(s.handed.size()) - 1));
          const uint8_t* p = s.handed[i].p;
          const bool live = s.heap.at(const_cast<uint8_t*>(p) - 4).live;
          Release(s, s.handed[i].p);
          if (live && in.Bool()) s.handed.erase(s.handed.begin() + static_cast<std::ptrdiff_t>(i));
        }
        break;
      case 6: {  // one byte anywhere in a live block: signature or caller's memory
        if (s.handed.empty()) break;
        const State::Handed& h = s.handed[static_cast<size_t>(in.Range(0, static_cast<int64_t>(s.handed.size()) - 1))];
        if (!s.heap.at(h.p - 4).live) break;
        const int64_t offset = in.Range(-4, static_cast<int64_t>(h.n) + 3);
        h.p[offset] = in.Read<uint8_t>();
        break;
      }
      case 7:
        Release(s, nullptr);
        break;
      case 8:
        hostBasicSuite = in.Range(0, 3) == 0 ? nullptr : &fakeSuite;
        break;
      case 9:
        CheckLeaks(s);
        break;
    }
    CheckTable();
    for (uint32_t i = 0; i < 4; ++i) {
      if (s.handed.empty()) break;
      const uint8_t* p = s.handed[static_cast<size_t>(in.Range(0, static_cast<int64_t>(s.handed.size()) - 1))].p;
      auto entry = std::find_if(s.table.begin(), s.table.end(), [&](auto& e) { return e.first == p; });
      GM_FUZZ_CHECK(memoryWatcher.SizeOf(p) == (entry == s.table.end() ? 0 : entry->second));
    }
  }

  SetPlatformDebugSink(nullptr);
  memoryWatcher = MemoryWatcher{};
  hostBasicSuite = nullptr;
  state = nullptr;
  return 0;
}
