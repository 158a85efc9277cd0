#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "io/Builder.h"
#include "io/Formats.h"

namespace gm::io {

namespace {

// libtiff reports through callbacks; these keep its first error and its
// latest warning, each as one line, for our own message. A warning counts
// when nothing worse was said: some codecs explain a block they cannot
// decode only as a warning.
struct TiffMessages {
  char error[256] = {};
  char warning[256] = {};
};

void Keep(char (&to)[256], TIFF* tif, const char* module, const char* format, va_list args) {
  char text[200];
  std::vsnprintf(text, sizeof text, format, args);
  // Some of libtiff's texts span lines; the tool's errors are one line.
  for (char* c = text; *c; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20) *c = ' ';
  }
  // libtiff often starts with the file name, which our line already names.
  const char* name = tif ? TIFFFileName(tif) : nullptr;
  const size_t length = name ? std::strlen(name) : 0;
  const char* reason = text;
  if (length && std::strncmp(text, name, length) == 0 && std::strncmp(text + length, ": ", 2) == 0) reason += length + 2;
  std::snprintf(to, sizeof to, "%s%s%s", module ? module : "", module ? ": " : "", reason);
}

int OnTiffError(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
  auto* messages = static_cast<TiffMessages*>(user);
  // The first error is the cause, later ones its echoes.
  if (messages->error[0] == 0) Keep(messages->error, tif, module, format, args);
  return 1;
}

int OnTiffWarning(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
  if (user) Keep(static_cast<TiffMessages*>(user)->warning, tif, module, format, args);
  return 1;
}


using OpenOptions = std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)>;

OpenOptions MakeOptions(TiffMessages& messages, bool warnings) {
  OpenOptions options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!options) throw std::bad_alloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnTiffError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnTiffWarning, warnings ? &messages : nullptr);
  return options;
}

// libtiff reads through our source; nothing is mapped (mode "m").
tmsize_t ReadSource(thandle_t handle, void* data, tmsize_t size) {
  return static_cast<tmsize_t>(static_cast<Source*>(handle)->Read(data, static_cast<size_t>(size)));
}
tmsize_t WriteNothing(thandle_t, void*, tmsize_t) { return -1; }
toff_t SeekSource(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<Source*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = source->Tell();
  if (whence == SEEK_END) base = source->Size();
  const uint64_t to = base + offset;
  return source->Seek(to) ? to : static_cast<toff_t>(-1);
}
int CloseNothing(thandle_t) { return 0; }
toff_t SourceSize(thandle_t handle) { return static_cast<Source*>(handle)->Size(); }
int MapNothing(thandle_t, void**, toff_t*) { return 0; }
void UnmapNothing(thandle_t, void*, toff_t) {}

// And writes to a descriptor it does not own.
int Fd(thandle_t handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
tmsize_t ReadFd(thandle_t handle, void* data, tmsize_t size) {
  return RetryInterrupted([&] { return ::read(Fd(handle), data, static_cast<size_t>(size)); });
}
tmsize_t WriteFd(thandle_t handle, void* data, tmsize_t size) {
  const int error = WriteAll(Fd(handle), data, static_cast<size_t>(size));
  errno = error;
  return error ? -1 : size;
}
toff_t SeekFd(thandle_t handle, toff_t offset, int whence) {
  return static_cast<toff_t>(::lseek(Fd(handle), static_cast<off_t>(offset), whence));
}
toff_t FdSize(thandle_t handle) {
  struct stat st {};
  return ::fstat(Fd(handle), &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}

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
    throw Error(path_, what + detail);
  }

 private:
  uint32_t TileField(ttag_t tag) {
    uint32_t v = 0;
    TIFFGetField(tif_, tag, &v);
    if (v == 0) Fail("corrupt TIFF tile size");
    return v;
  }
  void PollCancel() {
    if (cancel_ && cancel_()) throw Cancelled(path_);
  }

  TIFF* tif_;
  const std::string& path_;
  const CancelCheck& cancel_;
  TiffMessages& messages_;
  uint64_t maxBytes_;
};

bool Sniff(std::span<const uint8_t> h) {
  return h.size() >= 4 && ((h[0] == 'I' && h[1] == 'I' && (h[2] == 42 || h[2] == 43) && h[3] == 0) ||
                           (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && (h[3] == 42 || h[3] == 43)));
}

Image DecodeTiff(Source& source, const DecodeRequest& request) {
  const std::string& path = source.Name();
  DecodeLimits limits = request.limits;
  const CancelCheck& cancel = request.cancel;
  // Random access: a stream is read into memory first, within the limit.
  if (!source.Seekable()) {
    source.Whole(limits.maxBytes, "TIFF");
    limits.maxBytes -= source.HeldBytes();
  }
  TiffMessages messages;
  const OpenOptions options = MakeOptions(messages, true);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                      static_cast<tmsize_t>(std::min<uint64_t>(limits.maxBytes, INT64_MAX)));
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(
      TIFFClientOpenExt(path.c_str(), "rm", &source, ReadSource, WriteNothing, SeekSource, CloseNothing, SourceSize,
                        MapNothing, UnmapNothing, options.get()),
      TIFFClose);
  if (!tif) {
    source.Check();
    throw Error(path, std::string("not a valid TIFF file") + (messages.error[0] ? std::string(": ") + messages.error : ""));
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
  const auto target = request.scale.Resolve(layout.width, layout.height, orientation);
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

void EncodeTiff(const Image& image, bool grey, int fd, const std::string& path, const EncodeRequest& request) {
  TiffMessages messages;
  auto fail = [&](const std::string& what) {
    const int saved = errno;
    std::string reason = what;
    if (messages.error[0]) {
      reason += std::string(": ") + messages.error;
    } else if (saved) {
      reason += std::string(": ") + std::strerror(saved);
    }
    return Error(path, reason);
  };
  const OpenOptions options = MakeOptions(messages, false);
  const auto handle = reinterpret_cast<thandle_t>(static_cast<intptr_t>(fd));
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFClientOpenExt(path.c_str(), "wm", handle, ReadFd, WriteFd, SeekFd,
                                                               CloseNothing, FdSize, MapNothing, UnmapNothing,
                                                               options.get()),
                                             TIFFClose);
  if (!tif) throw fail("cannot write the TIFF file");

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
    if ((y & 63) == 0 && request.cancel && request.cancel()) throw Cancelled(path);
  }
  if (!TIFFFlush(t)) throw fail("cannot write the TIFF file");
}

}  // namespace

extern const Codec kTiffCodec{"TIFF", "tiff", {"tif", "tiff"}, true, Sniff, DecodeTiff, EncodeTiff};

}  // namespace gm::io
