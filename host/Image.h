// An in-memory 8-bit image as a host holds a document: interleaved samples,
// rows packed back to back, three channels (RGB) or four (RGBA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace gm {

// Not under AddressSanitizer, which checks heap blocks but not mappings.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GM_ADDRESS_SANITIZER_BUILD 1
#endif
#endif
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(GM_ADDRESS_SANITIZER_BUILD)
#define GM_HUGE_PAGES 1
#endif

// Grows without zero-filling: whoever sizes a pixel buffer writes every byte
// of it next, and untouched pages of a large image then cost nothing.
template <typename T>
struct UninitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitAllocator<U>;
  };
  UninitAllocator() = default;
  template <typename U>
  UninitAllocator(const UninitAllocator<U>&) noexcept {}

#ifdef GM_HUGE_PAGES
  // A large image is mapped for huge pages: first touching its memory, a
  // page fault per 4 KiB used to cost as much as decoding it.
  static constexpr size_t kLarge = size_t{8} << 20;
  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < kLarge) return std::allocator<T>::allocate(n);
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    ::madvise(p, bytes, MADV_HUGEPAGE);
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < kLarge) return std::allocator<T>::deallocate(p, n);
    ::munmap(p, bytes);
  }
#endif
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using PixelBuffer = std::vector<uint8_t, UninitAllocator<uint8_t>>;

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int channels = 3;
  PixelBuffer pixels;
  int orientation = 1;  // how a file says its rows are shown (EXIF, 1 to 8); 1 as stored

  Image() = default;
  // Zero-filled; decoders reserve and commit rows instead, and write them.
  Image(int32_t w, int32_t h, int c)
      : width(w), height(h), channels(c), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * c, 0) {}

  size_t RowBytes() const { return static_cast<size_t>(width) * channels; }
  std::span<uint8_t> Row(int32_t y) { return {pixels.data() + static_cast<size_t>(y) * RowBytes(), RowBytes()}; }
  std::span<const uint8_t> Row(int32_t y) const {
    return {pixels.data() + static_cast<size_t>(y) * RowBytes(), RowBytes()};
  }
  uint8_t* At(int32_t x, int32_t y) { return pixels.data() + static_cast<size_t>(y) * RowBytes() + static_cast<size_t>(x) * channels; }
  const uint8_t* At(int32_t x, int32_t y) const {
    return pixels.data() + static_cast<size_t>(y) * RowBytes() + static_cast<size_t>(x) * channels;
  }
};

}  // namespace gm
