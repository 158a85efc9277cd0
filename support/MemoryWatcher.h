// Every block the module's allocation operators hand out comes from the host,
// 8 bytes larger than asked, with 4 signature bytes on each side, and is
// recorded here so that overruns, stray releases and leaks show up as "MW:"
// lines on the debugger output.
#pragma once

#include <cstddef>
#include <cstdint>

class MemoryWatcher {
 public:
  static constexpr int32_t kCapacity = 500;
  static constexpr uint8_t kSignatureByte = 0x41;

  MemoryWatcher() = default;

  static constexpr uint32_t Overhead() { return 8; }
  // Fills the block with signature bytes and records it; returns the caller's pointer.
  void* Register(void* block, uint32_t totalSize);
  uint32_t SizeOf(const void* p) const;
  // Checks the signatures and forgets the pointer; returns the block to give back.
  void* Unregister(void* p);
  void CheckLeaks() const;

  void* pointers[kCapacity] = {};
  uint32_t sizes[kCapacity] = {};
  int32_t count = 0;
};

extern MemoryWatcher memoryWatcher;

// What the module's operator new / delete do, for every form of them.
// Allocation raises int16_t -50 without a basic suite and -108 when the host
// has no memory (or the request cannot be expressed to it).
void* ModuleAllocate(size_t size);
void ModuleRelease(void* p);
