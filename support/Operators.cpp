// The module's own allocation operators. They exist only in the Windows
// module, where they serve the module's code and its statically linked
// standard library; a native program that links the module's libraries keeps
// its own operators.
#ifdef _WIN32
#include <new>

#include "support/MemoryWatcher.h"

void* operator new(std::size_t size) { return ModuleAllocate(size); }
void* operator new[](std::size_t size) { return ModuleAllocate(size); }

// The no-throw forms must not raise, so a failure becomes a null pointer.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ModuleAllocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ModuleAllocate(size);
  } catch (...) {
    return nullptr;
  }
}

void operator delete(void* p) noexcept { ModuleRelease(p); }
void operator delete[](void* p) noexcept { ModuleRelease(p); }
void operator delete(void* p, std::size_t) noexcept { ModuleRelease(p); }
void operator delete[](void* p, std::size_t) noexcept { ModuleRelease(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ModuleRelease(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ModuleRelease(p); }
#endif
