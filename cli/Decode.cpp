#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/Codec.h"
#include "cli/Orient.h"
#include "cli/Units.h"

namespace gm::cli {

namespace {

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::optional<Format> SniffFormat(std::span<const uint8_t> head) {
  static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (head.size() >= sizeof kPng && std::memcmp(head.data(), kPng, sizeof kPng) == 0) return Format::Png;
  if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return Format::Jpeg;
  if (head.size() >= 4 && ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
                           (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43)))) {
    return Format::Tiff;
  }
  return std::nullopt;
}

std::optional<Format> FormatFromExtension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  return FormatFromName(path.substr(dot + 1));
}

std::optional<Format> FormatFromName(const std::string& name) {
  const std::string lower = Lower(name);
  if (lower == "png") return Format::Png;
  if (lower == "jpg" || lower == "jpeg") return Format::Jpeg;
  if (lower == "tif" || lower == "tiff") return Format::Tiff;
  return std::nullopt;
}

const char* FormatName(Format format) {
  switch (format) {
    case Format::Png:
      return "PNG";
    case Format::Jpeg:
      return "JPEG";
    case Format::Tiff:
      return "TIFF";
  }
  return "image";
}

void CheckDimensions(const std::string& path, uint64_t width, uint64_t height, int channels,
                     const DecodeLimits& limits) {
  if (width == 0 || height == 0) {
    throw Failure(kExitInput, path,
                  "the image is " + std::to_string(width) + "x" + std::to_string(height) + ", it has no pixels");
  }
  const uint64_t limit = static_cast<uint64_t>(limits.maxDimension);
  if (width > limit || height > limit) {
    throw Failure(kExitInput, path,
                  "the image is " + std::to_string(width) + "x" + std::to_string(height) +
                      ", over the filter's limit of " + std::to_string(limit) + " pixels in either direction");
  }
  const uint64_t bytes = width * height * static_cast<uint64_t>(channels);
  if (bytes > limits.maxBytes) {
    throw Failure(kExitInput, path,
                  "the " + std::to_string(width) + "x" + std::to_string(height) + " image needs " +
                      FormatBytes(bytes) + " decoded, over the memory limit of " + FormatBytes(limits.maxBytes) +
                      " (--max-memory)");
  }
}

Image ReserveImage(uint32_t width, uint32_t height, int channels) {
  Image image;
  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.channels = channels;
  image.pixels.reserve(static_cast<size_t>(width) * height * static_cast<size_t>(channels));
  return image;
}

uint8_t* CommitRows(Image& image, uint32_t top, uint32_t end) {
  const size_t needed = static_cast<size_t>(end) * image.RowBytes();
  if (image.pixels.size() < needed) image.pixels.resize(needed);  // within the reserve: no reallocation
  return image.pixels.data() + static_cast<size_t>(top) * image.RowBytes();
}

std::optional<Size> ScaleRequest::Resolve(uint32_t storedWidth, uint32_t storedHeight, int orientation) const {
  if (width <= 0) return std::nullopt;
  const auto w = static_cast<int32_t>(storedWidth), h = static_cast<int32_t>(storedHeight);
  if (!alongHeight && !(upright && SwapsAxes(orientation))) return ScaledSize(w, h, width);
  const Size turned = ScaledSize(h, w, width);
  return Size{turned.height, turned.width};
}

ImageBuilder::ImageBuilder(const std::string& path, uint32_t width, uint32_t height, int channels,
                           std::optional<Size> scaled, bool inOrder, const DecodeLimits& limits)
    : scaled_(scaled) {
  if (scaled && inOrder) {
    // Only the scaled image is held, so only it counts against the memory limit.
    CheckDimensions(path, width, height, channels, DecodeLimits{limits.maxDimension, UINT64_MAX});
    CheckDimensions(path, static_cast<uint64_t>(scaled->width), static_cast<uint64_t>(scaled->height), channels,
                    limits);
    scaler_.emplace(static_cast<int32_t>(width), static_cast<int32_t>(height), channels, *scaled);
    image_.width = static_cast<int32_t>(width);
    image_.height = static_cast<int32_t>(height);
    image_.channels = channels;
  } else {
    CheckDimensions(path, width, height, channels, limits);
    if (scaled) {
      CheckDimensions(path, static_cast<uint64_t>(scaled->width), static_cast<uint64_t>(scaled->height), channels,
                      limits);
    }
    image_ = ReserveImage(width, height, channels);
  }
}

uint8_t* ImageBuilder::Rows(uint32_t top, uint32_t end) {
  if (!scaler_) return CommitRows(image_, top, end);
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

namespace {

// Decodes an open file: a regular file by seeking back over the bytes that
// told its format, anything else (standard input, a pipe) as a stream.
Image DecodeOpenFile(int fd, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                     const ScaleRequest& scale) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw Failure(kExitInput, path, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw Failure(kExitInput, path, "is a directory, not an image file");

  uint8_t head[16] = {};
  ssize_t got = 0;
  while (got < static_cast<ssize_t>(sizeof head)) {
    const ssize_t n = ::read(fd, head + got, sizeof head - static_cast<size_t>(got));
    if (n < 0 && errno == EINTR) {
      if (cancel && cancel()) throw Failure(kExitCancelled, path, "cancelled");
      continue;
    }
    if (n < 0) throw Failure(kExitInput, path, std::strerror(errno));
    if (n == 0) break;
    got += n;
  }
  if (got == 0) throw Failure(kExitInput, path, "the file is empty");
  const std::span<const uint8_t> headBytes(head, static_cast<size_t>(got));
  const auto format = SniffFormat(headBytes);
  if (!format) throw Failure(kExitInput, path, "not a PNG, JPEG or TIFF image");
  if (!S_ISREG(st.st_mode)) return DecodeStream(fd, headBytes, *format, path, limits, cancel, scale);
  if (::lseek(fd, 0, SEEK_SET) != 0) throw Failure(kExitInput, path, std::strerror(errno));

  if (*format == Format::Tiff) return DecodeTiff(fd, path, limits, cancel, scale);

  const int dupFd = ::dup(fd);
  if (dupFd < 0) throw Failure(kExitInput, path, std::strerror(errno));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(dupFd, "rb"), &std::fclose);
  if (!file) {
    ::close(dupFd);
    throw Failure(kExitInput, path, std::strerror(errno));
  }
  return *format == Format::Png ? DecodePng(file.get(), path, limits, cancel, scale)
                                : DecodeJpeg(file.get(), path, limits, cancel, scale);
}

}  // namespace

Image DecodeImage(const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                  const ScaleRequest& scale) {
  if (path == "-") return DecodeOpenFile(STDIN_FILENO, kStandardInput, limits, cancel, scale);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(kExitInput, path, std::strerror(errno));
  FdCloser closer{fd};
  return DecodeOpenFile(fd, path, limits, cancel, scale);
}

}  // namespace gm::cli
