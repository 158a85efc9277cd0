// Decoding files from anywhere: the input is the whole file, sniffed by
// content exactly as the tool does it. A decode must end in an image that
// fits the limits or in one error, a single line for people; never a crash,
// another exception, or memory beyond the limits (libFuzzer's
// -malloc_limit_mb catches that).
#include <string>

#include "fuzz/Check.h"
#include "io/Formats.h"

namespace {

// Small enough that a claimed huge image is refused long before libFuzzer's
// allocation limit, large enough for every seed.
constexpr int64_t kMaxDimension = 20000;
constexpr uint64_t kMaxBytes = uint64_t{64} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = "input";

  gm::io::DecodeLimits limits;
  limits.maxDimension = kMaxDimension;
  limits.maxBytes = kMaxBytes;
  // At full size, or scaled while decoding to a width (or, for a turned
  // image, a height) the input's last bytes choose: one decode an input, so
  // that large images stay within the time limit.
  gm::io::ScaleRequest scale;
  if (size >= 2 && (data[size - 1] & 1)) scale = {1 + data[size - 2] % 200, (data[size - 1] & 2) != 0};
  try {
    gm::io::Source source = gm::io::Source::Memory({data, size}, path);
    const gm::Image image = gm::io::Decode(source, {limits, [] { return false; }, scale});
    GM_FUZZ_CHECK(image.width > 0 && image.height > 0);
    GM_FUZZ_CHECK(image.width <= kMaxDimension && image.height <= kMaxDimension);
    GM_FUZZ_CHECK(image.channels == 3 || image.channels == 4);
    GM_FUZZ_CHECK(image.orientation >= 1 && image.orientation <= 8);
    GM_FUZZ_CHECK(image.pixels.size() == static_cast<size_t>(image.width) * image.height * image.channels);
    GM_FUZZ_CHECK(image.pixels.size() <= kMaxBytes);
    if (scale.width > 0) GM_FUZZ_CHECK((scale.alongHeight ? image.height : image.width) == scale.width);
  } catch (const gm::io::Error& failure) {
    GM_FUZZ_CHECK(failure.File() == path);
    const std::string reason = failure.what();
    GM_FUZZ_CHECK(!reason.empty() && reason.find('\n') == std::string::npos);
  }
  return 0;
}
