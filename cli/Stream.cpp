// Standard input and pipes deliver their bytes once: the ones read to tell
// the format are handed to the decoder ahead of the rest.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/Codec.h"
#include "cli/Units.h"

namespace gm::cli {

namespace {

struct Replay {
  int fd;
  std::span<const uint8_t> head;
  size_t served = 0;
  const CancelCheck* cancel;
};

// Ctrl-C interrupts a read that waits for the writer; a decoder that sees
// the error stops, and the caller reports the cancel.
ssize_t ReadReplay(void* cookie, char* buffer, size_t size) {
  auto* r = static_cast<Replay*>(cookie);
  if (r->served < r->head.size()) {
    const size_t n = std::min(size, r->head.size() - r->served);
    std::memcpy(buffer, r->head.data() + r->served, n);
    r->served += n;
    return static_cast<ssize_t>(n);
  }
  while (true) {
    const ssize_t n = ::read(r->fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
    if (*r->cancel && (*r->cancel)()) return -1;
  }
}

void WriteAll(int fd, const uint8_t* data, size_t size, const std::string& path) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(kExitInput, path, std::string("cannot hold the image in memory: ") + std::strerror(errno));
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// TIFF needs random access: the whole stream goes into an anonymous file in
// memory, which counts against the limit.
Image DecodeTiffStream(int fd, std::span<const uint8_t> head, const std::string& path, DecodeLimits limits,
                       const CancelCheck& cancel, const ScaleRequest& scale) {
  const int memory = static_cast<int>(::memfd_create("glyphmosaic-input", MFD_CLOEXEC));
  if (memory < 0) throw Failure(kExitInput, path, std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{memory};
  WriteAll(memory, head.data(), head.size(), path);
  uint64_t total = head.size();
  std::vector<uint8_t> buffer(1 << 16);
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) {
      if (cancel && cancel()) throw Failure(kExitCancelled, path, "cancelled");
      continue;
    }
    if (n < 0) throw Failure(kExitInput, path, std::strerror(errno));
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > limits.maxBytes) {
      throw Failure(kExitInput, path,
                    "a TIFF image read as a stream must fit in memory, and this one is over the memory limit of " +
                        FormatBytes(limits.maxBytes) + " (--max-memory)");
    }
    WriteAll(memory, buffer.data(), static_cast<size_t>(n), path);
  }
  limits.maxBytes -= total;
  if (::lseek(memory, 0, SEEK_SET) != 0) throw Failure(kExitInput, path, std::strerror(errno));
  return DecodeTiff(memory, path, limits, cancel, scale);
}

}  // namespace

Image DecodeStream(int fd, std::span<const uint8_t> head, Format format, const std::string& path,
                   const DecodeLimits& limits, const CancelCheck& cancel, const ScaleRequest& scale) {
  try {
    if (format == Format::Tiff) return DecodeTiffStream(fd, head, path, limits, cancel, scale);
    Replay replay{fd, head, 0, &cancel};
    const cookie_io_functions_t functions{ReadReplay, nullptr, nullptr, nullptr};
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fopencookie(&replay, "rb", functions), &std::fclose);
    if (!file) throw Failure(kExitInput, path, std::strerror(errno));
    return format == Format::Png ? DecodePng(file.get(), path, limits, cancel, scale)
                                 : DecodeJpeg(file.get(), path, limits, cancel, scale);
  } catch (const Failure&) {
    if (cancel && cancel()) throw Failure(kExitCancelled, path, "cancelled");
    throw;
  }
}

}  // namespace gm::cli
