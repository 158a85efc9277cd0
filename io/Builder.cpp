#include "io/Builder.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cstdint>
#include <fstream>

#ifdef __linux__
#include <sys/sysinfo.h>
#endif

#include "io/Orient.h"
#include "io/Units.h"

namespace gm::io {

namespace {

#ifdef __linux__
// A size in a control group's file: a number, or "max".
uint64_t ReadLimit(const std::string& path) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word) || word == "max") return UINT64_MAX;
  try {
    return std::stoull(word);
  } catch (const std::exception&) {
    return UINT64_MAX;
  }
}
#endif

void CheckProcessMemory(const std::string& file, uint64_t bytes, const std::string& what) {
  const uint64_t most = ProcessMemory();
  if (bytes > most) {
    throw Error(file, what + " " + FormatBytes(bytes) + ", more than the " + FormatBytes(most) +
                          " of memory this process can have");
  }
}

}  // namespace

uint64_t ProcessMemory() {
  static const uint64_t most = [] {
    uint64_t m = UINT64_MAX;
#ifdef __linux__
    struct sysinfo info {};
    if (::sysinfo(&info) == 0) m = (uint64_t{info.totalram} + info.totalswap) * info.mem_unit;
    std::ifstream groups("/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
      if (line.rfind("0::", 0) == 0) {
        const std::string group = "/sys/fs/cgroup" + line.substr(3);
        const uint64_t memory = ReadLimit(group + "/memory.max");
        const uint64_t swap = ReadLimit(group + "/memory.swap.max");
        if (memory != UINT64_MAX) m = std::min(m, swap == UINT64_MAX ? memory : memory + swap);
      }
    }
    m = std::min(m, ReadLimit("/sys/fs/cgroup/memory/memory.limit_in_bytes"));
#endif
#ifndef _WIN32
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
      rlimit limit {};
      if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) m = std::min<uint64_t>(m, limit.rlim_cur);
    }
#endif
    return m;
  }();
  return most;
}

void CheckSides(const std::string& file, uint64_t width, uint64_t height, const DecodeLimits& limits,
                const char* what) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (width == 0 || height == 0) throw Error(file, std::string(what) + " is " + size + ", it has no pixels");
  const uint64_t limit = static_cast<uint64_t>(limits.maxDimension);
  if (width > limit || height > limit) {
    throw Error(file, std::string(what) + " is " + size + ", over the filter's limit of " + std::to_string(limit) +
                          " pixels in either direction");
  }
}

void CheckDimensions(const std::string& file, uint64_t width, uint64_t height, int channels,
                     const DecodeLimits& limits, const char* what) {
  CheckSides(file, width, height, limits, what);
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const uint64_t bytes = width * height * static_cast<uint64_t>(channels);
  if (bytes > limits.maxBytes) {
    throw Error(file, "the " + size + (what == std::string("the image") ? " image" : " scaled image") + " needs " +
                          FormatBytes(bytes) + " decoded, over the memory limit of " + FormatBytes(limits.maxBytes) +
                          " (--max-memory)");
  }
  CheckProcessMemory(file, bytes, "the " + size + (what == std::string("the image") ? " image" : " scaled image") + " needs");
}

void CheckMemory(const std::string& file, uint64_t bytes, const char* what, const DecodeLimits& limits) {
  if (bytes > limits.maxBytes) {
    throw Error(file, std::string(what) + " need " + FormatBytes(bytes) + ", over the memory limit of " +
                          FormatBytes(limits.maxBytes) + " (--max-memory)");
  }
  CheckProcessMemory(file, bytes, std::string(what) + " need");
}

std::optional<Size> ScaleRequest::Resolve(uint32_t storedWidth, uint32_t storedHeight, int orientation) const {
  if (width <= 0) return std::nullopt;
  const bool turned = alongHeight || (upright && SwapsAxes(orientation));
  const int64_t across = turned ? storedHeight : storedWidth;
  const int64_t along = turned ? storedWidth : storedHeight;
  const int64_t w = fitted ? std::min<int64_t>(width, across * kMaxFittedEnlargement) : width;
  const Size s = ScaledSize(across, along, w);
  return turned ? Size{s.height, s.width} : s;
}

ImageBuilder::ImageBuilder(const std::string& file, uint32_t width, uint32_t height, int channels,
                           std::optional<Size> scaled, bool inOrder, const DecodeLimits& limits)
    : scaled_(scaled) {
  if (scaled && inOrder) {
    // Only the scaled image is held, so only it counts against the memory
    // limit; the pixels read are bounded apart.
    CheckSides(file, width, height, limits);
    if (uint64_t{width} * height > limits.maxStreamedPixels) {
      throw Error(file, "the " + std::to_string(width) + "x" + std::to_string(height) + " image has more than " +
                            std::to_string(limits.maxStreamedPixels) +
                            " pixels, more than any decode reads, even to scale it down");
    }
    CheckDimensions(file, static_cast<uint64_t>(scaled->width), static_cast<uint64_t>(scaled->height), channels,
                    limits, "the scaled image");
    scaler_.emplace(static_cast<int32_t>(width), static_cast<int32_t>(height), channels, *scaled);
    image_.width = static_cast<int32_t>(width);
    image_.height = static_cast<int32_t>(height);
    image_.channels = channels;
  } else {
    CheckDimensions(file, width, height, channels, limits);
    if (scaled) {
      CheckDimensions(file, static_cast<uint64_t>(scaled->width), static_cast<uint64_t>(scaled->height), channels,
                      limits, "the scaled image");
    }
    image_ = Image(static_cast<int32_t>(width), static_cast<int32_t>(height), channels);
  }
}

uint8_t* ImageBuilder::Rows(uint32_t top, uint32_t end) {
  if (!scaler_) return image_.At(0, static_cast<int32_t>(top));
  bandTop_ = top;
  band_.resize(static_cast<size_t>(end - top) * image_.RowBytes());
  return band_.data();
}

void ImageBuilder::Done(uint32_t end) {
  if (!scaler_) return;
  for (uint32_t y = bandTop_; y < end; ++y) scaler_->AddRow(band_.data() + static_cast<size_t>(y - bandTop_) * RowBytes());
  bandTop_ = end;
}

Image ImageBuilder::Finish() {
  if (scaler_) return scaler_->Take();
  if (scaled_) {
    Image scaled = AreaScale(image_, *scaled_);
    image_ = Image();
    return scaled;
  }
  return std::move(image_);
}

}  // namespace gm::io
