#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/Codec.h"

namespace gm::cli {

bool IsGrey(const Image& image) {
  const size_t step = static_cast<size_t>(image.channels);
  const uint8_t* p = image.pixels.data();
  const uint8_t* end = p + image.pixels.size();
  for (; p != end; p += step) {
    if (p[0] != p[1] || p[0] != p[2]) return false;
  }
  return true;
}

void EncodeImage(const Image& image, Format format, int fd, const std::string& path, const EncodeOptions& options,
                 const CancelCheck& cancel) {
  const bool grey = IsGrey(image);
  if (format == Format::Tiff) {
    EncodeTiff(image, grey, fd, path, cancel);
    return;
  }
  const int own = ::dup(fd);
  if (own < 0) throw Failure(kExitOutput, path, std::strerror(errno));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(own, "wb"), &std::fclose);
  if (!file) {
    ::close(own);
    throw Failure(kExitOutput, path, std::strerror(errno));
  }
  if (format == Format::Png) {
    EncodePng(image, grey, file.get(), path, cancel);
  } else {
    EncodeJpeg(image, grey, file.get(), path, options.jpegQuality, cancel);
  }
  errno = 0;
  const bool flushed = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  if (!flushed) throw Failure(kExitOutput, path, errno ? std::strerror(errno) : "write error");
}

}  // namespace gm::cli
