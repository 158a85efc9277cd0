// Where a decoder's bytes come from: a file, standard input or a pipe as it
// streams, or bytes in memory. Reads are buffered, so that decoders may ask
// for a few bytes at a time; the bytes read to tell the format are served
// again from the buffer, so a stream need not seek back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "io/Errors.h"
#include "io/Fd.h"

namespace gm::io {

class Source {
 public:
  // A file by name; "-" is standard input, named "standard input" in messages.
  static Source Open(const std::string& path, CancelCheck cancel = {});
  // A descriptor the caller keeps open for the source's lifetime.
  static Source Borrow(int fd, std::string name, CancelCheck cancel = {});
  // Bytes the caller keeps for the source's lifetime.
  static Source Memory(std::span<const uint8_t> bytes, std::string name);

  Source(Source&&) noexcept;
  Source& operator=(Source&&) = delete;
  ~Source();

  const std::string& Name() const { return name_; }

  // Up to `count` bytes from the start, without consuming them; before any Read.
  std::span<const uint8_t> Head(size_t count);
  // Up to `size` bytes; fewer only at the end or when reading failed, which
  // Check then reports. Never throws, for the C libraries that call it.
  size_t Read(void* data, size_t size) noexcept;
  // Throws Cancelled or Error when a read failed.
  void Check() const;
  bool Failed() const { return error_ != 0; }

  // Files on disk and memory can seek; streams cannot.
  bool Seekable() const { return seekable_; }
  bool Seek(uint64_t offset) noexcept;
  uint64_t Tell() const { return position_; }
  uint64_t Size() const { return size_; }  // when seekable

  // The whole input in memory. A stream is read to its end into memory of
  // the source's own, refused with one line when over `limit` bytes; a
  // file is mapped. The source is then memory itself.
  std::span<const uint8_t> Whole(uint64_t limit, const char* format);
  // Bytes of memory the source holds of its own (a stream read whole).
  uint64_t HeldBytes() const { return held_.size(); }

 private:
  Source(std::string name, CancelCheck cancel) : name_(std::move(name)), cancel_(std::move(cancel)) {}
  bool Fill() noexcept;
  void Fail(int error) noexcept { error_ = error; }
  void Unmap() noexcept;

  std::string name_;
  CancelCheck cancel_;
  UniqueFd owned_;
  int fd_ = -1;
  bool seekable_ = false;
  std::span<const uint8_t> memory_;  // a memory source's bytes
  std::vector<uint8_t> held_;        // a stream read whole
  void* mapped_ = nullptr;           // a file read whole
  std::vector<uint8_t> buffer_;      // file bytes [bufferStart_, bufferStart_ + bufferLength_)
  uint64_t bufferStart_ = 0;
  size_t bufferLength_ = 0;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
  int error_ = 0;  // errno of the read that failed; EINTR when cancelled
};

}  // namespace gm::io
