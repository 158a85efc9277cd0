// An emulated 32-bit x86 processor with the little of a process around it
// that a Windows module needs: a stack, a thread information block reached
// through FS, a heap whose every block ends against an unmapped page, and
// native functions that emulated code calls through small trap stubs.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace gm::win32 {

// What stopped emulated code: a fault, a missing import, a timeout.
class EmulationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Convention { Cdecl, Stdcall };

// Addresses of the fixed parts of the emulated process.
constexpr uint32_t kPageSize = 0x1000;
constexpr uint32_t kStubBase = 0x00100000;  // trap stubs of native functions
constexpr uint32_t kStubPages = 4;
constexpr uint32_t kStackBase = 0x00200000;  // grows down from kStackTop; the page below is unmapped
constexpr uint32_t kStackTop = 0x00300000;
constexpr uint32_t kGdtBase = 0x00300000 + kPageSize;
constexpr uint32_t kTib = 0x00310000;
constexpr uint32_t kPeb = 0x00318000;
constexpr uint32_t kHeapBase = 0x20000000;
constexpr uint32_t kHeapEnd = 0x60000000;
constexpr uint32_t kThreadId = 0x0A0C;
constexpr uint32_t kProcessId = 0x0B0C;

// Offsets in the thread information block that module code reads through FS.
constexpr uint32_t kTibSelf = 0x18, kTibProcessId = 0x20, kTibThreadId = 0x24, kTibTlsPointer = 0x2C,
                   kTibPeb = 0x30, kTibLastError = 0x34;

class Machine;

// A native function's view of the emulated call: its arguments on the stack.
struct NativeCall {
  Machine& machine;
  uint32_t esp;  // at the stub: the return address
  uint32_t Arg(int index) const;
};

// Native functions return EAX, or EDX:EAX for 64-bit results.
using NativeFn = std::function<uint64_t(NativeCall&)>;

struct Native {
  std::string name;
  Convention convention = Convention::Cdecl;
  int argumentBytes = 0;  // popped by a stdcall function
  NativeFn fn{};          // empty: not implemented, stops the run with its name
  // Host callbacks returning 8 or 16 bits leave garbage above them, so a
  // caller reading more than the convention gives fails.
  int resultBits = 32;
  // Emulated code run after the trap instead of a return (the trap only
  // records the call), for functions that call back into the module.
  std::vector<uint8_t> code{};
  // A data import: the bytes the import's address points to.
  std::vector<uint8_t> data{};
};

// A module's address ranges, for naming where a fault happened.
struct CodeMap {
  std::string module;
  uint32_t base = 0;
  uint32_t size = 0;
  std::vector<std::pair<uint32_t, std::string>> sections;  // start, name
  std::vector<std::pair<uint32_t, std::string>> exports;   // address, name
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  uc_engine* engine() { return uc_; }

  void Map(uint32_t address, uint32_t size, uint32_t protection);
  void Unmap(uint32_t address, uint32_t size);
  void Protect(uint32_t address, uint32_t size, uint32_t protection);
  bool IsMapped(uint32_t address) const;
  uint32_t ProtectionAt(uint32_t address) const;

  void Write(uint32_t address, const void* data, size_t size);
  void Read(uint32_t address, void* data, size_t size);
  template <typename T>
  T Get(uint32_t address) {
    T value;
    Read(address, &value, sizeof value);
    return value;
  }
  template <typename T>
  void Put(uint32_t address, const T& value) {
    Write(address, &value, sizeof value);
  }
  std::string ReadString(uint32_t address, size_t limit = 1 << 16);

  uint32_t Reg(int id);
  void SetReg(int id, uint32_t value);

  // A native function emulated code can call; returns the address to call
  // (for a data import, the address of its data).
  uint32_t AddNative(Native native);
  // Names of the natives called so far, in the order of their first call.
  const std::vector<std::string>& FirstCalls() const { return firstCalls_; }

  // Heap blocks, each alone on its pages and ending against an unmapped one
  // (8-byte aligned, or exactly at the end when `exact`). Freed blocks are
  // unmapped and their addresses never reused, so stale pointers fault.
  uint32_t Allocate(uint32_t size, bool exact = false);
  bool Free(uint32_t address);
  bool IsBlock(uint32_t address) const { return blocks_.count(address) != 0; }
  uint32_t BlockSize(uint32_t address) const;
  size_t LiveBlocks() const { return blocks_.size(); }

  // Calls emulated code at `address` with 32-bit arguments and checks on
  // return that the stack pointer and EBX, ESI, EDI, EBP are what the
  // convention requires. Throws EmulationError on any fault or breach.
  uint64_t Call(uint32_t address, std::span<const uint32_t> args, Convention convention);

  // Names the place an address belongs to: module, section, nearest export.
  void AddCodeMap(CodeMap map) { codeMaps_.push_back(std::move(map)); }
  std::string Describe(uint32_t address) const;

  // Emulated time per top-level call before it counts as a hang.
  void SetTimeout(uint32_t microseconds) { timeoutMicroseconds_ = microseconds; }
  // The emulator does not fault on misaligned 16-byte SSE operands the way
  // a processor does; this makes it, for code in [begin, end).
  void CheckSseAlignment(uint32_t begin, uint32_t end);

  // Counts basic blocks executed; a fingerprint of which code path ran.
  void CountBlocks(bool on);
  uint64_t BlocksExecuted() const { return blocksExecuted_; }

 private:
  struct Block {
    uint32_t size;
    uint32_t runStart;
    uint32_t runBytes;
  };
  static void OnInterrupt(uc_engine* uc, uint32_t number, void* self);
  static bool OnBadMemory(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t value, void* self);
  static bool OnInvalidInstruction(uc_engine* uc, void* self);
  static void OnWatchedMemory(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t value, void* self);
  static void OnInstruction(uc_engine* uc, uint64_t address, uint32_t size, void* self);
  static void OnBlock(uc_engine* uc, uint64_t address, uint32_t size, void* self);
  void Fail(const std::string& what);
  void SetUp();
  void SetUpSegments();

  uc_engine* uc_ = nullptr;
  std::vector<Native> natives_;
  std::vector<bool> called_;
  std::map<uint32_t, size_t> stubs_;  // trap address -> native
  uint32_t stubCursor_ = 0;
  std::vector<std::string> firstCalls_;
  std::map<uint32_t, uint32_t> pages_;  // protection of each mapped page
  std::map<uint32_t, Block> blocks_;
  uint32_t heapCursor_ = kHeapBase;
  std::vector<CodeMap> codeMaps_;
  std::string failure_;
  bool faultNeedsPlace_ = false;
  uint32_t returnTrap_ = 0;
  uint32_t timeoutMicroseconds_ = 60'000'000;
  bool countingBlocks_ = false;
  uint32_t sseBegin_ = 0;
  std::vector<uint8_t> sseClass_;  // per code byte: not yet decoded, no SSE operand, one
  uint64_t blocksExecuted_ = 0;
};

}  // namespace gm::win32
