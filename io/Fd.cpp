#include "io/Fd.h"

#include <unistd.h>

#include <cstring>

namespace gm::io {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

ssize_t ReadFull(int fd, void* data, size_t size, const CancelCheck& cancel) {
  auto* at = static_cast<uint8_t*>(data);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = RetryInterrupted([&] { return ::read(fd, at + got, size - got); }, cancel);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

int WriteAll(int fd, const void* data, size_t size) {
  const auto* at = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = RetryInterrupted([&] { return ::write(fd, at, size); });
    if (n < 0) return errno;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

bool FdWriter::Write(const void* data, size_t size) noexcept {
  if (error_) return false;
  if (used_ + size > buffer_.size()) {
    if (!Flush()) return false;
    if (size >= buffer_.size()) {
      error_ = WriteAll(fd_, data, size);
      return error_ == 0;
    }
  }
  std::memcpy(buffer_.data() + used_, data, size);
  used_ += size;
  return true;
}

bool FdWriter::Flush() noexcept {
  if (error_) return false;
  error_ = WriteAll(fd_, buffer_.data(), used_);
  used_ = 0;
  return error_ == 0;
}

}  // namespace gm::io
