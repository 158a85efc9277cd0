#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/Codec.h"
#include "cli/TiffMessages.h"

namespace gm::cli {

namespace {

struct Layout {
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
  uint16_t extraCount = 0;
  bool associated = false;  // the first extra sample is premultiplied alpha
  bool tiled = false;
};

// Premultiplied colour back to what it stands for, c' = round(c · 255 / a),
// the form the filter and every output format expect.
void Unassociate(uint8_t* pixels, size_t count) {
  for (uint8_t* p = pixels; count-- > 0; p += 4) {
    const unsigned a = p[3];
    for (int c = 0; c < 3; ++c) {
      p[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
    }
  }
}

class TiffReader {
 public:
  TiffReader(TIFF* tif, const std::string& path, const CancelCheck& cancel, TiffMessages& messages,
             uint64_t maxBytes)
      : tif_(tif), path_(path), cancel_(cancel), messages_(messages), maxBytes_(maxBytes) {}

  Layout ReadLayout() {
    Layout l;
    TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &l.planar);
    if (!TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &l.photometric)) l.photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t* kinds = nullptr;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_EXTRASAMPLES, &l.extraCount, &kinds);
    l.associated = l.extraCount > 0 && kinds && kinds[0] == EXTRASAMPLE_ASSOCALPHA;
    l.tiled = TIFFIsTiled(tif_);
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression);
    if (l.photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
      TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);  // the codec hands out RGB
      l.photometric = PHOTOMETRIC_RGB;
    }
    return l;
  }

  static bool Direct(const Layout& l) {
    if (l.bits != 8) return false;
    if (l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE) return l.samples >= 1;
    return l.photometric == PHOTOMETRIC_RGB && l.samples >= 3;
  }

  static int Channels(const Layout& l) {
    const bool grey = l.photometric != PHOTOMETRIC_RGB;
    const int colour = grey ? 1 : 3;
    return (l.samples > colour && l.extraCount > 0) || l.samples == colour + 1 ? 4 : 3;
  }

  // 8-bit grey, grey + alpha, RGB and RGBA, strips or tiles, either planar layout.
  void ReadDirect(const Layout& l, ImageBuilder& image) {
    const bool grey = l.photometric != PHOTOMETRIC_RGB;
    const bool invert = l.photometric == PHOTOMETRIC_MINISWHITE;
    const uint32_t blockWidth = l.tiled ? TileField(TIFFTAG_TILEWIDTH) : l.width;
    const uint32_t blockHeight = l.tiled ? TileField(TIFFTAG_TILELENGTH) : 1;
    const int planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
    const int perPixel = l.planar == PLANARCONFIG_SEPARATE ? 1 : l.samples;
    const tmsize_t blockBytes = l.tiled ? TIFFTileSize(tif_) : TIFFScanlineSize(tif_);
    const uint64_t needed = uint64_t{blockWidth} * blockHeight * static_cast<uint64_t>(perPixel);
    if (blockBytes <= 0 || static_cast<uint64_t>(blockBytes) < needed) Fail("inconsistent TIFF layout");
    // The tile size is the file's claim, not the image's: bound it, and leave
    // the buffer untouched so that only what libtiff decodes costs memory.
    if (static_cast<uint64_t>(blockBytes) > maxBytes_) Fail("TIFF tiles larger than the memory limit");
    const auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(blockBytes));
    const int channels = image.Channels();
    const bool unassociate = l.associated && channels == 4;

    // Which of the file's samples feeds each channel of the image; -1 for none.
    int source[4] = {0, 1, 2, -1};
    if (grey) {
      source[1] = source[2] = 0;
      source[3] = channels == 4 ? 1 : -1;
    } else if (channels == 4) {
      source[3] = 3;
    }

    // Rows [top, top + rows) of one plane (or all, interleaved) into `band`.
    auto readBand = [&](int plane, uint32_t top, uint32_t rows, uint8_t* band) {
      for (uint32_t left = 0; left < l.width; left += blockWidth) {
        const auto sample = static_cast<uint16_t>(plane);
        const tmsize_t got = l.tiled ? TIFFReadTile(tif_, block.get(), left, top, 0, sample)
                                     : (TIFFReadScanline(tif_, block.get(), top, sample) == 1 ? blockBytes : -1);
        if (got < 0) Fail("corrupt or truncated TIFF file");
        const uint32_t cols = std::min(blockWidth, l.width - left);
        for (uint32_t y = 0; y < rows; ++y) {
          const uint8_t* src = block.get() + static_cast<size_t>(y) * blockWidth * perPixel;
          uint8_t* dst = band + y * image.RowBytes() + static_cast<size_t>(left) * channels;
          for (uint32_t x = 0; x < cols; ++x, src += perPixel, dst += channels) {
            for (int c = 0; c < channels; ++c) {
              const int s = source[c];
              if (planes > 1 ? s != plane : s < 0) continue;
              uint8_t v = src[planes > 1 ? 0 : s];
              if (invert && c < 3) v = static_cast<uint8_t>(255 - v);
              dst[c] = v;
            }
          }
        }
      }
    };

    if (planes == 1) {
      for (uint32_t top = 0; top < l.height; top += blockHeight) {
        const uint32_t rows = std::min(blockHeight, l.height - top);
        uint8_t* band = image.Rows(top, top + rows);
        readBand(0, top, rows, band);
        if (unassociate) Unassociate(band, size_t{rows} * l.width);
        image.Done(top + rows);
        if (l.tiled || (top & 63) == 0) PollCancel();
      }
      return;
    }
    // Plane after plane: the builder holds the whole image.
    for (int plane = 0; plane < planes; ++plane) {
      for (uint32_t top = 0; top < l.height; top += blockHeight) {
        const uint32_t rows = std::min(blockHeight, l.height - top);
        readBand(plane, top, rows, image.Rows(top, top + rows));
        if (l.tiled || (top & 63) == 0) PollCancel();
      }
    }
    if (unassociate) Unassociate(image.Rows(0, l.height), size_t{l.height} * l.width);
    image.Done(l.height);
  }

  // Everything else libtiff can turn into RGBA (palette, 16-bit, CMYK, ...),
  // a whole strip or row of tiles at a time: libtiff decodes a strip or tile
  // afresh from its start for every request that reaches into it, and some
  // codecs (old-style JPEG) cannot start over, so a part of a block is never
  // asked for. Any block that fails to decode fails the file.
  void ReadConverted(const Layout& l, ImageBuilder& image) {
    char reason[1024] = {};
    if (!TIFFRGBAImageOK(tif_, reason)) Fail(std::string("unsupported TIFF image: ") + reason);
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageBegin(&img, tif_, 1, reason)) Fail(std::string("unsupported TIFF image: ") + reason);
    struct End {
      TIFFRGBAImage& img;
      ~End() { TIFFRGBAImageEnd(&img); }
    } end{img};
    // Rows in the order they are stored, as the other paths deliver them.
    img.req_orientation = img.orientation;
    uint32_t band = l.tiled ? TileField(TIFFTAG_TILELENGTH) : 0;
    if (!l.tiled) TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &band);
    band = std::clamp<uint32_t>(band, 1, l.height);
    const uint64_t rasterBytes = uint64_t{l.width} * band * 4;
    if (rasterBytes > maxBytes_) Fail("TIFF strips or tiles larger than the memory limit");
    const auto raster = std::make_unique_for_overwrite<uint32_t[]>(static_cast<size_t>(l.width) * band);
    const int channels = image.Channels();
    for (uint32_t top = 0; top < l.height; top += band) {
      const uint32_t rows = std::min(band, l.height - top);
      img.row_offset = static_cast<int>(top);
      img.col_offset = 0;
      if (!TIFFRGBAImageGet(&img, raster.get(), l.width, rows)) Fail("corrupt or truncated TIFF file");
      uint8_t* const band = image.Rows(top, top + rows);
      uint8_t* dst = band;
      const uint32_t* src = raster.get();
      for (size_t i = 0, n = size_t{rows} * l.width; i < n; ++i, dst += channels) {
        dst[0] = static_cast<uint8_t>(TIFFGetR(src[i]));
        dst[1] = static_cast<uint8_t>(TIFFGetG(src[i]));
        dst[2] = static_cast<uint8_t>(TIFFGetB(src[i]));
        if (channels == 4) dst[3] = static_cast<uint8_t>(TIFFGetA(src[i]));
      }
      // libtiff hands out premultiplied colour whatever the file holds.
      if (channels == 4) Unassociate(band, size_t{rows} * l.width);
      image.Done(top + rows);
      PollCancel();
    }
  }

  [[noreturn]] void Fail(const std::string& what) {
    const char* said = messages_.error[0] ? messages_.error : messages_.warning;
    const std::string detail = said[0] ? std::string(" (") + said + ")" : "";
    throw Failure(kExitInput, path_, what + detail);
  }

 private:
  uint32_t TileField(ttag_t tag) {
    uint32_t v = 0;
    TIFFGetField(tif_, tag, &v);
    if (v == 0) Fail("corrupt TIFF tile size");
    return v;
  }
  void PollCancel() {
    if (cancel_ && cancel_()) throw Failure(kExitCancelled, path_, "cancelled");
  }

  TIFF* tif_;
  const std::string& path_;
  const CancelCheck& cancel_;
  TiffMessages& messages_;
  uint64_t maxBytes_;
};

}  // namespace

Image DecodeTiff(int fd, const std::string& path, const DecodeLimits& limits, const CancelCheck& cancel,
                 const ScaleRequest& scale) {
  TiffMessages messages;
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!options) throw Failure(kExitInput, path, "out of memory");
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnTiffError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnTiffWarning, &messages);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                      static_cast<tmsize_t>(std::min<uint64_t>(limits.maxBytes, INT64_MAX)));
  // libtiff closes the descriptor it is given: hand it a copy.
  const int own = ::dup(fd);
  if (own < 0) throw Failure(kExitInput, path, std::strerror(errno));
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFFdOpenExt(own, path.c_str(), "rm", options.get()), TIFFClose);
  if (!tif) {
    ::close(own);
    throw Failure(kExitInput, path,
                  std::string("not a valid TIFF file") + (messages.error[0] ? std::string(": ") + messages.error : ""));
  }

  TiffReader reader(tif.get(), path, cancel, messages, limits.maxBytes);
  const Layout layout = reader.ReadLayout();
  const bool direct = TiffReader::Direct(layout);
  const int channels = direct ? TiffReader::Channels(layout) : (layout.extraCount > 0 ? 4 : 3);
  CheckDimensions(path, layout.width, layout.height, channels, DecodeLimits{limits.maxDimension, UINT64_MAX});
  uint16_t stored = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &stored);
  const int orientation = stored >= ORIENTATION_TOPLEFT && stored <= ORIENTATION_LEFTBOT ? stored : 1;

  const bool inOrder = !direct || layout.planar != PLANARCONFIG_SEPARATE;
  const auto target = scale.Resolve(layout.width, layout.height, orientation);
  ImageBuilder image(path, layout.width, layout.height, channels, target, inOrder, limits);
  if (direct) {
    reader.ReadDirect(layout, image);
  } else {
    reader.ReadConverted(layout, image);
  }
  Image decoded = image.Finish();
  decoded.orientation = orientation;
  return decoded;
}

}  // namespace gm::cli
