// An in-memory 8-bit image as a host holds a document: interleaved samples,
// rows packed back to back, three channels (RGB) or four (RGBA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace gm {

// Pixel memory comes zero-filled from the system and is committed page by
// page only where it is written: a decoder fills rows as a file delivers
// them, so a tiny file that claims a huge image fails at its first missing
// row having cost address space, not memory. Large buffers are mapped for
// huge pages, so that first touching them costs a fault per 2 MiB.
void* AllocatePixels(size_t bytes);
void FreePixels(void* pixels, size_t bytes) noexcept;

template <typename T>
struct PixelAllocator {
  using value_type = T;
  PixelAllocator() = default;
  template <typename U>
  PixelAllocator(const PixelAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(AllocatePixels(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { FreePixels(p, n * sizeof(T)); }
  // The memory is zero already: writing zeros would commit every page.
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const PixelAllocator<U>&) const noexcept {
    return true;
  }
};

// Grown in place it is not zero-filled; fresh memory is.
using PixelBuffer = std::vector<uint8_t, PixelAllocator<uint8_t>>;

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int channels = 3;
  PixelBuffer pixels;
  int orientation = 1;  // how a file says its rows are shown (EXIF, 1 to 8); 1 as stored

  Image() = default;
  // Black and transparent, at no cost until rows are written.
  Image(int32_t w, int32_t h, int c)
      : width(w), height(h), channels(c), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * c) {}

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
