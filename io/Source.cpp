#include "io/Source.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "io/Units.h"

namespace gm::io {

namespace {

constexpr size_t kBufferBytes = size_t{1} << 16;

}  // namespace

Source Source::Open(const std::string& path, CancelCheck cancel) {
  if (path == "-") return Borrow(STDIN_FILENO, kStandardInput, std::move(cancel));
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw Error(path, std::strerror(errno));
  Source source = Borrow(fd.Get(), path, std::move(cancel));
  source.owned_ = std::move(fd);
  return source;
}

Source Source::Borrow(int fd, std::string name, CancelCheck cancel) {
  Source source(std::move(name), std::move(cancel));
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw Error(source.name_, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw Error(source.name_, "is a directory, not an image file");
  source.fd_ = fd;
  // A regular file is read from its start, whatever its offset (standard
  // input redirected from a file may have been read already).
  source.seekable_ = S_ISREG(st.st_mode);
  source.size_ = source.seekable_ ? static_cast<uint64_t>(st.st_size) : 0;
  source.buffer_.resize(kBufferBytes);
  return source;
}

Source Source::Memory(std::span<const uint8_t> bytes, std::string name) {
  Source source(std::move(name), {});
  source.memory_ = bytes;
  source.seekable_ = true;
  source.size_ = bytes.size();
  return source;
}

Source::Source(Source&& other) noexcept
    : name_(std::move(other.name_)),
      cancel_(std::move(other.cancel_)),
      owned_(std::move(other.owned_)),
      fd_(other.fd_),
      seekable_(other.seekable_),
      memory_(other.memory_),
      held_(std::move(other.held_)),
      mapped_(std::exchange(other.mapped_, nullptr)),
      buffer_(std::move(other.buffer_)),
      bufferStart_(other.bufferStart_),
      bufferLength_(other.bufferLength_),
      position_(other.position_),
      size_(other.size_),
      error_(other.error_) {
  if (!held_.empty()) memory_ = held_;
}

Source::~Source() { Unmap(); }

void Source::Unmap() noexcept {
  if (mapped_) ::munmap(mapped_, size_);
  mapped_ = nullptr;
}

void Source::Check() const {
  if (error_ == 0) return;
  if (error_ == EINTR && cancel_ && cancel_()) throw Cancelled(name_);
  throw Error(name_, std::strerror(error_));
}

// Refills the buffer with the bytes at the current position.
bool Source::Fill() noexcept {
  ssize_t n;
  if (seekable_) {
    n = RetryInterrupted([&] { return ::pread(fd_, buffer_.data(), buffer_.size(), static_cast<off_t>(position_)); },
                         cancel_);
  } else {
    n = RetryInterrupted([&] { return ::read(fd_, buffer_.data(), buffer_.size()); }, cancel_);
  }
  if (n < 0) {
    Fail(errno);
    return false;
  }
  bufferStart_ = position_;
  bufferLength_ = static_cast<size_t>(n);
  return n > 0;
}

std::span<const uint8_t> Source::Head(size_t count) {
  if (fd_ < 0) return memory_.first(std::min(count, memory_.size()));
  count = std::min(count, buffer_.size());
  if (seekable_) {
    position_ = 0;
    if (bufferStart_ != 0 || bufferLength_ < count) {
      if (!Fill()) Check();
    }
  } else {
    // A stream may deliver the first bytes in several pieces.
    while (bufferLength_ < count) {
      const ssize_t n = RetryInterrupted(
          [&] { return ::read(fd_, buffer_.data() + bufferLength_, buffer_.size() - bufferLength_); }, cancel_);
      if (n < 0) {
        Fail(errno);
        Check();
      }
      if (n == 0) break;
      bufferLength_ += static_cast<size_t>(n);
    }
  }
  return {buffer_.data(), std::min(count, bufferLength_)};
}

size_t Source::Read(void* data, size_t size) noexcept {
  if (error_) return 0;
  auto* out = static_cast<uint8_t*>(data);
  if (fd_ < 0) {
    const size_t n = position_ < memory_.size() ? std::min<uint64_t>(size, memory_.size() - position_) : 0;
    if (n) std::memcpy(out, memory_.data() + position_, n);
    position_ += n;
    return n;
  }
  size_t done = 0;
  while (done < size) {
    if (position_ >= bufferStart_ && position_ < bufferStart_ + bufferLength_) {
      const size_t at = static_cast<size_t>(position_ - bufferStart_);
      const size_t n = std::min(size - done, bufferLength_ - at);
      std::memcpy(out + done, buffer_.data() + at, n);
      done += n;
      position_ += n;
      continue;
    }
    if (!Fill()) break;
  }
  return done;
}

bool Source::Seek(uint64_t offset) noexcept {
  if (!seekable_) return false;
  position_ = offset;
  return true;
}

std::span<const uint8_t> Source::Whole(uint64_t limit, const char* format) {
  if (fd_ < 0) return memory_;
  if (seekable_) {
    if (size_ > 0) {
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
      if (p == MAP_FAILED) throw Error(name_, std::strerror(errno));
      mapped_ = p;
    }
    memory_ = {static_cast<const uint8_t*>(mapped_), mapped_ ? size_ : 0};
  } else {
    // Only the head has been read: it is in the buffer, from the start.
    held_.assign(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(bufferLength_));
    while (true) {
      if (held_.size() > limit) {
        throw Error(name_, std::string("a ") + format +
                               " image read as a stream must fit in memory, and this one is over the memory limit of " +
                               FormatBytes(limit) + " (--max-memory)");
      }
      const size_t at = held_.size();
      held_.resize(at + kBufferBytes);
      const ssize_t n = RetryInterrupted([&] { return ::read(fd_, held_.data() + at, kBufferBytes); }, cancel_);
      held_.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0) {
        Fail(errno);
        Check();
      }
      if (n == 0) break;
    }
    memory_ = held_;
    size_ = held_.size();
    seekable_ = true;
  }
  fd_ = -1;
  buffer_ = {};
  bufferLength_ = 0;
  position_ = 0;
  return memory_;
}

}  // namespace gm::io
