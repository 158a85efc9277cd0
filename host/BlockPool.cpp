#include "host/BlockPool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "abi/Codes.h"

namespace gm::host {

BlockPool::~BlockPool() {
  for (auto& [block, size] : blocks_) std::free(block);
}

int32_t BlockPool::Allocate(size_t size, void** block) {
  if (!block) return memFullErr;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (!p) return memFullErr;
  blocks_[p] = size;
  *block = p;
  return noErr;
}

int32_t BlockPool::Free(void* block) {
  if (!block) return noErr;
  auto found = blocks_.find(block);
  if (found == blocks_.end()) return paramErr;  // never ours: freeing it would corrupt the heap
  blocks_.erase(found);
  std::free(block);
  return noErr;
}

int32_t BlockPool::Reallocate(void* block, size_t size, void** fresh) {
  if (!fresh) return paramErr;
  auto found = blocks_.find(block);
  if (block && found == blocks_.end()) return paramErr;
  void* p = nullptr;
  if (int32_t err = Allocate(size, &p)) return err;
  if (block) {
    std::memcpy(p, block, std::min(found->second, size));
    Free(block);
  }
  *fresh = p;
  return noErr;
}

}  // namespace gm::host
