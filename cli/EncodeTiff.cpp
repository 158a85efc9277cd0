#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/Codec.h"
#include "cli/TiffMessages.h"

namespace gm::cli {

void EncodeTiff(const Image& image, bool grey, int fd, const std::string& path, const CancelCheck& cancel) {
  TiffMessages messages;
  auto fail = [&](const std::string& what) {
    const int saved = errno;
    std::string reason = what;
    if (messages.error[0]) {
      reason += std::string(": ") + messages.error;
    } else if (saved) {
      reason += std::string(": ") + std::strerror(saved);
    }
    return Failure(kExitOutput, path, reason);
  };
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!options) throw Failure(kExitOutput, path, "out of memory");
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnTiffError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnTiffWarning, nullptr);
  const int own = ::dup(fd);  // TIFFClose closes what it was given
  if (own < 0) throw Failure(kExitOutput, path, std::strerror(errno));
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFFdOpenExt(own, path.c_str(), "w", options.get()), TIFFClose);
  if (!tif) {
    ::close(own);
    throw fail("cannot write the TIFF file");
  }

  const bool alpha = image.channels == 4;
  const uint16_t samples = static_cast<uint16_t>((grey ? 1 : 3) + (alpha ? 1 : 0));
  TIFF* t = tif.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_ZIPQUALITY, 1);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  if (alpha) {
    const uint16_t kinds[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, kinds);
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

  const size_t step = static_cast<size_t>(image.channels);
  std::vector<uint8_t> spare(static_cast<size_t>(image.width) * samples);
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data() + static_cast<size_t>(y) * image.RowBytes();
    uint8_t* out = spare.data();
    for (int32_t x = 0; x < image.width; ++x, row += step) {
      *out++ = row[0];
      if (!grey) {
        *out++ = row[1];
        *out++ = row[2];
      }
      if (alpha) *out++ = row[3];
    }
    if (TIFFWriteScanline(t, spare.data(), static_cast<uint32_t>(y), 0) != 1) throw fail("cannot write the TIFF file");
    if ((y & 63) == 0 && cancel && cancel()) throw Failure(kExitCancelled, path, "cancelled");
  }
  if (!TIFFFlush(t)) throw fail("cannot write the TIFF file");
}

}  // namespace gm::cli
