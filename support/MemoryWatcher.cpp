#include "support/MemoryWatcher.h"

#include <cstring>

#include "entry/Entry.h"
#include "entry/Platform.h"

namespace {

bool SignatureIntact(const uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) {
    if (bytes[i] != MemoryWatcher::kSignatureByte) return false;
  }
  return true;
}

}  // namespace

void* MemoryWatcher::Register(void* block, uint32_t totalSize) {
  if (!block) return nullptr;
  std::memset(block, kSignatureByte, totalSize);
  void* p = static_cast<uint8_t*>(block) + 4;
  if (count == kCapacity) {
    PlatformDebugOutput("MW:MEMCHECK FULL!\n");
    return p;
  }
  for (void* recorded : pointers) {
    if (recorded == p) {
      PlatformDebugOutput("MW:MEMCHECK AGAIN!\n");
      return p;
    }
  }
  pointers[count] = p;
  sizes[count] = totalSize;
  ++count;
  return p;
}

uint32_t MemoryWatcher::SizeOf(const void* p) const {
  for (int32_t i = 0; i < count; ++i) {
    if (pointers[i] == p) return sizes[i];
  }
  return 0;
}

void* MemoryWatcher::Unregister(void* p) {
  if (!p) return nullptr;
  uint8_t* const block = static_cast<uint8_t*>(p) - 4;
  const uint32_t total = SizeOf(p);
  if (!SignatureIntact(block)) PlatformDebugOutput("MW:BAD SIGNATURE AT BEGINNING!\n");
  // Without a recorded size the end of the block is unknown, so it is not looked at.
  if (total == 0) {
    PlatformDebugOutput("MW:NO SIZE!\n");
  } else if (!SignatureIntact(block + total - 4)) {
    PlatformDebugOutput("MW:BAD SIGNATURE AT END!\n");
  }
  if (count == 0) {
    PlatformDebugOutput("MW:EMPTY!\n");
    return block;
  }
  int32_t found = -1;
  for (int32_t i = 0; i < kCapacity && found < 0; ++i) {
    if (pointers[i] == p) found = i;
  }
  if (found < 0) {
    PlatformDebugOutput("MW:NOT FOUND!\n");
    return block;
  }
  for (int32_t i = found; i + 1 < count; ++i) {
    pointers[i] = pointers[i + 1];
    sizes[i] = sizes[i + 1];
  }
  --count;
  pointers[count] = nullptr;
  sizes[count] = 0;
  return block;
}

void MemoryWatcher::CheckLeaks() const {
  if (count != 0) PlatformDebugOutput("MW:INDEX NOT ZERO!\n");
  for (const void* p : pointers) {
    if (p) PlatformDebugOutput("MW:MEMORY NOT ZERO!\n");
  }
}

void* ModuleAllocate(size_t size) {
  if (!hostBasicSuite) throw static_cast<int16_t>(paramErr);
  // The table keeps 32-bit sizes; a request that would wrap is out of memory, not a tiny block.
  if (size > UINT32_MAX - MemoryWatcher::Overhead()) throw static_cast<int16_t>(memFullErr);
  const uint32_t total = static_cast<uint32_t>(size) + MemoryWatcher::Overhead();
  void* block = nullptr;
  if (hostBasicSuite->AllocateBlock(total, &block) != 0) throw static_cast<int16_t>(memFullErr);
  return memoryWatcher.Register(block, total);
}

void ModuleRelease(void* p) {
  void* block = memoryWatcher.Unregister(p);
  if (hostBasicSuite) hostBasicSuite->FreeBlock(block);
}
