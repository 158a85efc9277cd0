#include "io/Scale.h"

#include <algorithm>


namespace gm::io {

Size ScaledSize(int32_t width, int32_t height, int32_t newWidth) {
  const int64_t h = (int64_t{height} * newWidth * 2 + width) / (int64_t{width} * 2);
  return Size{newWidth, static_cast<int32_t>(std::max<int64_t>(1, h))};
}

// Along each axis, in units where an input pixel is `out` long and an output
// pixel `in` long, output o spans [o·in, o·in + in) and input s spans
// [s·out, s·out + out); a pair's weight is the length they share. Each output
// pixel gathers weight in.width · in.height in all; with 255 a sample and
// both sides at most 2,000,000 the sums stay far below 2^64.
AreaScaler::AreaScaler(int32_t inWidth, int32_t inHeight, int channels, Size size)
    : inWidth_(inWidth),
      inHeight_(inHeight),
      channels_(static_cast<size_t>(channels)),
      size_(size),
      columns_(static_cast<size_t>(size.width)),
      across_(static_cast<size_t>(size.width) * channels_),
      pending_(across_.size()),
      fresh_(across_.size()),
      result_(size.width, size.height, channels) {
  const uint64_t in = static_cast<uint64_t>(inWidth);
  const uint64_t out = static_cast<uint64_t>(size.width);
  for (uint64_t o = 0; o < out; ++o) {
    const uint64_t start = o * in;
    const uint64_t end = start + in;
    for (uint64_t s = start / out; s * out < end; ++s) {
      const uint64_t from = std::max(start, s * out);
      const uint64_t to = std::min(end, (s + 1) * out);
      if (to > from) columns_[o].push_back({static_cast<int32_t>(s), to - from});
    }
  }
}

void AreaScaler::AddRow(const uint8_t* row) {
  for (size_t ox = 0; ox < columns_.size(); ++ox) {
    uint64_t* acc = across_.data() + ox * channels_;
    std::fill(acc, acc + channels_, 0);
    for (const Span& c : columns_[ox]) {
      const uint8_t* p = row + static_cast<size_t>(c.source) * channels_;
      for (size_t k = 0; k < channels_; ++k) acc[k] += p[k] * c.weight;
    }
  }
  const uint64_t in = static_cast<uint64_t>(inHeight_);
  const uint64_t out = static_cast<uint64_t>(size_.height);
  const uint64_t s = static_cast<uint64_t>(nextRow_++);
  const uint64_t start = s * out, end = start + out;
  // Every output row this input row touches ends within it, but the last.
  for (uint64_t o = start / in; o < out && o * in < end; ++o) {
    const uint64_t weight = std::min(end, (o + 1) * in) - std::max(start, o * in);
    if (weight == 0) continue;
    std::vector<uint64_t>& sums = static_cast<int64_t>(o) == pendingRow_ ? pending_ : fresh_;
    if (&sums == &fresh_) std::fill(fresh_.begin(), fresh_.end(), 0);
    for (size_t i = 0; i < sums.size(); ++i) sums[i] += across_[i] * weight;
    if ((o + 1) * in <= end) {
      Emit(static_cast<int32_t>(o), sums);
    } else {
      if (&sums == &fresh_) std::swap(pending_, fresh_);
      pendingRow_ = static_cast<int32_t>(o);
    }
  }
}

void AreaScaler::Emit(int32_t outRow, const std::vector<uint64_t>& sums) {
  const uint64_t total = static_cast<uint64_t>(inWidth_) * static_cast<uint64_t>(inHeight_);
  uint8_t* dst = result_.At(0, outRow);
  for (size_t i = 0; i < sums.size(); ++i) dst[i] = static_cast<uint8_t>((sums[i] + total / 2) / total);
  if (outRow == pendingRow_) pendingRow_ = -1;
}

Image AreaScaler::Take() { return std::move(result_); }

Image AreaScale(const Image& source, Size size, const CancelCheck& cancel) {
  AreaScaler scaler(source.width, source.height, source.channels, size);
  for (int32_t y = 0; y < source.height; ++y) {
    scaler.AddRow(source.At(0, y));
    if (cancel && (y & 63) == 0 && cancel()) throw Cancelled("");
  }
  return scaler.Take();
}

}  // namespace gm::io
