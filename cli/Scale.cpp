#include "cli/Scale.h"

#include <algorithm>
#include <vector>

namespace gm::cli {

Size ScaledSize(int32_t width, int32_t height, int32_t newWidth) {
  const int64_t h = (int64_t{height} * newWidth * 2 + width) / (int64_t{width} * 2);
  return Size{newWidth, static_cast<int32_t>(std::max<int64_t>(1, h))};
}

namespace {

// Along one axis, in units where an input pixel is `outCount` long and an
// output pixel `inCount` long: the pieces of input pixels each output covers.
struct Span {
  int32_t source;
  uint64_t weight;
};

std::vector<std::vector<Span>> Coverage(int32_t inCount, int32_t outCount) {
  std::vector<std::vector<Span>> spans(static_cast<size_t>(outCount));
  const uint64_t in = static_cast<uint64_t>(inCount);
  const uint64_t out = static_cast<uint64_t>(outCount);
  for (uint64_t o = 0; o < out; ++o) {
    const uint64_t start = o * in;
    const uint64_t end = start + in;
    for (uint64_t s = start / out; s * out < end; ++s) {
      const uint64_t from = std::max(start, s * out);
      const uint64_t to = std::min(end, (s + 1) * out);
      if (to > from) spans[o].push_back({static_cast<int32_t>(s), to - from});
    }
  }
  return spans;
}

}  // namespace

Image AreaScale(const Image& source, Size size, const CancelCheck& cancel) {
  Image result(size.width, size.height, source.channels);
  const auto columns = Coverage(source.width, size.width);
  const auto rows = Coverage(source.height, size.height);
  const size_t channels = static_cast<size_t>(source.channels);
  const size_t outRow = static_cast<size_t>(size.width) * channels;
  // Each output pixel gathers weight in.width * in.height in all; with 255 a
  // sample and both sides at most 2,000,000 the sums stay far below 2^64.
  const uint64_t total = static_cast<uint64_t>(source.width) * static_cast<uint64_t>(source.height);
  std::vector<uint64_t> across(outRow);
  std::vector<uint64_t> sums(outRow);

  for (int32_t oy = 0; oy < size.height; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    for (const Span& r : rows[static_cast<size_t>(oy)]) {
      const uint8_t* in = source.At(0, r.source);
      for (int32_t ox = 0; ox < size.width; ++ox) {
        uint64_t* acc = across.data() + static_cast<size_t>(ox) * channels;
        std::fill(acc, acc + channels, 0);
        for (const Span& c : columns[static_cast<size_t>(ox)]) {
          const uint8_t* p = in + static_cast<size_t>(c.source) * channels;
          for (size_t k = 0; k < channels; ++k) acc[k] += p[k] * c.weight;
        }
      }
      for (size_t i = 0; i < outRow; ++i) sums[i] += across[i] * r.weight;
    }
    uint8_t* out = result.At(0, oy);
    for (size_t i = 0; i < outRow; ++i) out[i] = static_cast<uint8_t>((sums[i] + total / 2) / total);
    if (cancel && (oy & 15) == 0 && cancel()) throw Failure(kExitCancelled, "", "cancelled");
  }
  return result;
}

}  // namespace gm::cli
