#include "io/Image.h"

#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace gm {

namespace {

// AddressSanitizer checks heap blocks, not mappings: its builds take the heap.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GM_ADDRESS_SANITIZER_BUILD 1
#endif
#endif
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(GM_ADDRESS_SANITIZER_BUILD)
constexpr size_t kLarge = size_t{8} << 20;
#else
constexpr size_t kLarge = SIZE_MAX;
#endif

}  // namespace

void* AllocatePixels(size_t bytes) {
  if (bytes < kLarge) {
    void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
#ifdef __linux__
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  ::madvise(p, bytes, MADV_HUGEPAGE);
  return p;
#else
  throw std::bad_alloc();
#endif
}

void FreePixels(void* pixels, size_t bytes) noexcept {
  if (bytes < kLarge) {
    std::free(pixels);
    return;
  }
#ifdef __linux__
  ::munmap(pixels, bytes);
#endif
}

}  // namespace gm
