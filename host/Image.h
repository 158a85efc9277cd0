// An in-memory 8-bit image as a host holds a document: interleaved samples,
// rows packed back to back, three channels (RGB) or four (RGBA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace gm {

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

  Image() = default;
  // The pixels start undefined: the caller writes them all.
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
