// The few things every reader and writer of file descriptors needs, once.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/Errors.h"

namespace gm::io {

// Owns a descriptor and closes it on scope exit.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  ~UniqueFd() { Reset(); }
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A system call again while a signal interrupts it, unless `cancel` says the
// signal was the user's request to stop (then errno stays EINTR).
template <typename Call>
auto RetryInterrupted(Call call, const CancelCheck& cancel = {}) {
  while (true) {
    const auto result = call();
    if (result >= 0 || errno != EINTR || (cancel && cancel())) return result;
  }
}

// Reads until `size` bytes, the end, or an error; -1 with errno on error.
ssize_t ReadFull(int fd, void* data, size_t size, const CancelCheck& cancel = {});
// Writes all of `data`; 0, or the errno of the write that failed.
int WriteAll(int fd, const void* data, size_t size);

// Buffered writing to a descriptor for encoders that hand out small pieces;
// the first error sticks, for callers that cannot throw through a C library.
class FdWriter {
 public:
  explicit FdWriter(int fd) : fd_(fd), buffer_(size_t{1} << 16) {}
  bool Write(const void* data, size_t size) noexcept;
  bool Flush() noexcept;
  int Errno() const { return error_; }

 private:
  int fd_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  int error_ = 0;
};

}  // namespace gm::io
