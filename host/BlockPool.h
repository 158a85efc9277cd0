// Memory a host hands a plug-in through the basic suite. Each block is kept
// with its size, so that it can be reallocated, a pointer never handed out is
// refused rather than freed, and whatever the plug-in leaves behind is freed
// with the pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace gm::host {

class BlockPool {
 public:
  BlockPool() = default;
  ~BlockPool();
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;

  // The basic suite's AllocateBlock, FreeBlock and ReallocateBlock, with
  // their answers: 0, or the code a host gives.
  int32_t Allocate(size_t size, void** block);
  int32_t Free(void* block);
  int32_t Reallocate(void* block, size_t size, void** fresh);

 private:
  std::map<void*, size_t> blocks_;
};

}  // namespace gm::host
