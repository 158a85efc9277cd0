// The command-line tool's decoding of files from anywhere: the input is the
// whole file, sniffed as PNG, JPEG or TIFF exactly as the tool does it. A
// decode must end in an image that fits the limits or in one Failure, a single
// line for people; never a crash, another exception, or memory beyond the
// limits (libFuzzer's -malloc_limit_mb catches that).
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cli/Codec.h"
#include "fuzz/Check.h"

namespace {

// Small enough that a claimed huge image is refused long before libFuzzer's
// allocation limit, large enough for every seed.
constexpr int64_t kMaxDimension = 20000;
constexpr uint64_t kMaxBytes = uint64_t{64} << 20;

struct MemoryFile {
  int fd;
  MemoryFile() : fd(static_cast<int>(::memfd_create("fuzz-input", 0))) {}
  ~MemoryFile() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file;
  GM_FUZZ_CHECK(file.fd >= 0);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(file.fd, data + done, size - done);
    GM_FUZZ_CHECK(n > 0);
    done += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(file.fd);

  gm::cli::DecodeLimits limits;
  limits.maxDimension = kMaxDimension;
  limits.maxBytes = kMaxBytes;
  // At full size, or scaled while decoding to a width (or, for a turned
  // image, a height) the input's last bytes choose: one decode an input, so
  // that large images stay within the time limit.
  gm::cli::ScaleRequest scale;
  if (size >= 2 && (data[size - 1] & 1)) scale = {1 + data[size - 2] % 200, (data[size - 1] & 2) != 0};
  try {
    const gm::Image image = gm::cli::DecodeImage(path, limits, [] { return false; }, scale);
    GM_FUZZ_CHECK(image.width > 0 && image.height > 0);
    GM_FUZZ_CHECK(image.width <= kMaxDimension && image.height <= kMaxDimension);
    GM_FUZZ_CHECK(image.channels == 3 || image.channels == 4);
    GM_FUZZ_CHECK(image.orientation >= 1 && image.orientation <= 8);
    GM_FUZZ_CHECK(image.pixels.size() == static_cast<size_t>(image.width) * image.height * image.channels);
    GM_FUZZ_CHECK(image.pixels.size() <= kMaxBytes);
    if (scale.width > 0) GM_FUZZ_CHECK((scale.alongHeight ? image.height : image.width) == scale.width);
  } catch (const gm::cli::Failure& failure) {
    GM_FUZZ_CHECK(failure.ExitCode() == gm::cli::kExitInput);
    GM_FUZZ_CHECK(failure.File() == path);
    const std::string reason = failure.what();
    GM_FUZZ_CHECK(!reason.empty() && reason.find('\n') == std::string::npos);
  }
  return 0;
}
