// Turns a fuzzer's input into the choices of one run. Reading past the end
// yields zeros, so every input, however short, is a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace gm::fuzz {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  size_t Remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }

  template <typename T>
  T Read() {
    static_assert(std::is_integral_v<T>);
    std::make_unsigned_t<T> value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
      value = static_cast<std::make_unsigned_t<T>>(value | (std::make_unsigned_t<T>{Byte()} << (8 * i)));
    }
    return static_cast<T>(value);
  }

  bool Bool() { return Byte() & 1; }

  // A value in [lo, hi]; the range must not be empty.
  int64_t Range(int64_t lo, int64_t hi) {
    const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
    const uint64_t raw = span <= 0xFF ? Read<uint8_t>() : span <= 0xFFFF ? Read<uint16_t>() : Read<uint32_t>();
    return span == UINT64_MAX ? static_cast<int64_t>(raw) : lo + static_cast<int64_t>(raw % (span + 1));
  }

  // Copies as many bytes as are left, up to out.size(); the rest of out is zeroed.
  void Fill(std::span<uint8_t> out) {
    const size_t n = out.size() < Remaining() ? out.size() : Remaining();
    if (n) std::memcpy(out.data(), data_ + pos_, n);
    if (n < out.size()) std::memset(out.data() + n, 0, out.size() - n);
    pos_ += n;
  }

 private:
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace gm::fuzz
