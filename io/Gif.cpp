// GIF through giflib's record-by-record reader, which streams: frames are
// composed on the canvas as browsers show them. The canvas starts
// transparent (browsers ignore the background colour), a transparent index
// leaves what is under it, and a frame's disposal acts before the next
// frame: "background" clears its area to transparent, "previous" puts back
// the canvas as it was before it.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "io/Animation.h"
#include "io/Formats.h"

namespace gm::io {

namespace {

bool Sniff(std::span<const uint8_t> h) {
  return h.size() >= 6 && (std::memcmp(h.data(), "GIF87a", 6) == 0 || std::memcmp(h.data(), "GIF89a", 6) == 0);
}

int ReadFromSource(GifFileType* gif, GifByteType* data, int size) {
  return static_cast<int>(static_cast<Source*>(gif->UserData)->Read(data, static_cast<size_t>(size)));
}

// giflib's text for its error code. It has none for some, and fails on an
// impossible LZW code size without setting any.
std::string Why(int code) {
  const char* text = GifErrorString(code);
  return text ? text : "damaged data";
}

struct CloseGif {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};

// The row of the image that an interlaced frame's n-th stored row fills.
int32_t InterlacedRow(int32_t n, int32_t height) {
  static constexpr int32_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    const int32_t rows = height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
    if (n < rows) return kStart[pass] + n * kStep[pass];
    n -= rows;
  }
  return height;
}

class GifFrames final : public FrameReader {
 public:
  GifFrames(Source& source, const DecodeRequest& request) : source_(source), cancel_(request.cancel) {
    int error = 0;
    gif_.reset(DGifOpen(&source, ReadFromSource, &error));
    if (!gif_) {
      source.Check();
      throw Error(source_.Name(), "not a valid GIF file: " + Why(error));
    }
    if (!NextImage()) throw Error(source_.Name(), "the GIF file holds no image");
    // The screen, grown to hold the first frame, as browsers grow it.
    const GifImageDesc& d = gif_->Image;
    width = std::max<int32_t>(gif_->SWidth, d.Left + d.Width);
    height = std::max<int32_t>(gif_->SHeight, d.Top + d.Height);
    const auto w = static_cast<uint64_t>(width), h = static_cast<uint64_t>(height);
    CheckMemory(source_.Name(), 4 * w * h + 65536, "the canvas kept for frames that restore it", request);
    canvas_ = Image(width, height, 4);
    Draw();
    first_ = true;
    animated = more_ = NextImage();
  }

  const Image* Next(int& delayMs) override {
    if (!first_) {
      if (!more_) return nullptr;
      Dispose();
      Draw();
      more_ = NextImage();
    }
    first_ = false;
    delayMs = delay_;
    return &canvas_;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    source_.Check();
    throw Error(source_.Name(), std::string(what) + ": " + Why(gif_->Error));
  }

  // Reads up to the next frame's descriptor, keeping what its graphic
  // control block says; false at the end of the file.
  bool NextImage() {
    control_ = GraphicsControlBlock{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    while (true) {
      GifRecordType type = UNDEFINED_RECORD_TYPE;
      if (DGifGetRecordType(gif_.get(), &type) == GIF_ERROR) {
        // Many files end after their last frame without the trailer; browsers show them.
        if (drawn_ && gif_->Error == D_GIF_ERR_READ_FAILED) {
          source_.Check();
          return false;
        }
        Fail("corrupt GIF file");
      }
      if (type == TERMINATE_RECORD_TYPE) return false;
      if (type == IMAGE_DESC_RECORD_TYPE) {
        // The header alone: giflib's DGifGetImageDesc would also keep a copy
        // of every frame's descriptor, so that memory grew with the frames.
        if (DGifGetImageHeader(gif_.get()) == GIF_ERROR) Fail("corrupt GIF frame");
        return true;
      }
      ReadExtension();
    }
  }

  void ReadExtension() {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif_.get(), &code, &block) == GIF_ERROR) Fail("corrupt GIF extension");
    bool loops = false;  // the application block that says how often to play
    for (bool first = true; block; first = false) {
      const int length = block[0];
      if (first && code == GRAPHICS_EXT_FUNC_CODE) {
        DGifExtensionToGCB(static_cast<size_t>(length), block + 1, &control_);
      } else if (first && code == APPLICATION_EXT_FUNC_CODE) {
        loops = length == 11 && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                                 std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
      } else if (loops && length >= 3 && block[1] == 1) {
        // Repeats after the first showing, as browsers count them; 0 for ever.
        const int repeats = block[2] | (block[3] << 8);
        plays = repeats == 0 ? 0 : repeats + 1;
      }
      if (DGifGetExtensionNext(gif_.get(), &block) == GIF_ERROR) Fail("corrupt GIF extension");
    }
  }

  void Draw() {
    const GifImageDesc& d = gif_->Image;
    const ColorMapObject* colours = d.ColorMap ? d.ColorMap : gif_->SColorMap;
    if (!colours) throw Error(source_.Name(), "a GIF frame has no colour table");
    disposal_ = control_.DisposalMode;
    if (disposal_ == DISPOSE_PREVIOUS) {
      if (saved_.pixels.empty()) saved_ = Image(width, height, 4);
      std::memcpy(saved_.pixels.data(), canvas_.pixels.data(), canvas_.pixels.size());
    }
    // The part of the canvas the frame covers.
    left_ = std::min<int32_t>(d.Left, width);
    top_ = std::min<int32_t>(d.Top, height);
    right_ = std::min<int32_t>(d.Left + d.Width, width);
    bottom_ = std::min<int32_t>(d.Top + d.Height, height);
    delay_ = control_.DelayTime * 10;
    drawn_ = true;
    if (d.Width <= 0 || d.Height <= 0) return SkipPixels();
    row_.resize(static_cast<size_t>(d.Width));
    for (int32_t n = 0; n < d.Height; ++n) {
      const int32_t y = d.Top + (d.Interlace ? InterlacedRow(n, d.Height) : n);
      // Rows below the canvas are decoded only when a visible one follows.
      if (!d.Interlace && y >= height) return SkipPixels();
      if (DGifGetLine(gif_.get(), row_.data(), d.Width) == GIF_ERROR) Fail("corrupt or truncated GIF file");
      if ((n & 63) == 63 && cancel_ && cancel_()) throw Cancelled(source_.Name());
      if (y >= height) continue;
      uint8_t* p = canvas_.At(left_, y);
      for (int32_t x = left_; x < right_; ++x, p += 4) {
        const int index = row_[static_cast<size_t>(x - d.Left)];
        if (index == control_.TransparentColor) continue;
        if (index < colours->ColorCount) {
          const GifColorType& c = colours->Colors[index];
          p[0] = c.Red;
          p[1] = c.Green;
          p[2] = c.Blue;
        } else {
          p[0] = p[1] = p[2] = 0;
        }
        p[3] = 255;
      }
    }
  }

  // The rest of a frame's compressed data, passed over undecoded.
  void SkipPixels() {
    GifByteType* block = nullptr;
    do {
      if (DGifGetCodeNext(gif_.get(), &block) == GIF_ERROR) Fail("corrupt or truncated GIF file");
    } while (block);
  }

  void Dispose() {
    if (disposal_ == DISPOSE_PREVIOUS) {
      std::memcpy(canvas_.pixels.data(), saved_.pixels.data(), canvas_.pixels.size());
    } else if (disposal_ == DISPOSE_BACKGROUND && left_ < right_) {
      for (int32_t y = top_; y < bottom_; ++y) {
        std::memset(canvas_.At(left_, y), 0, static_cast<size_t>(right_ - left_) * 4);
      }
    }
  }

  Source& source_;
  CancelCheck cancel_;
  std::unique_ptr<GifFileType, CloseGif> gif_;
  GraphicsControlBlock control_{};
  Image canvas_;
  Image saved_;  // the canvas before a frame whose disposal restores it
  std::vector<GifPixelType> row_;
  int32_t left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;  // of the frame last drawn
  int disposal_ = DISPOSAL_UNSPECIFIED;
  int delay_ = 0;
  bool drawn_ = false;
  bool first_ = false;
  bool more_ = false;
};

std::unique_ptr<FrameReader> GifAnimation(Source& source, const DecodeRequest& request) {
  return std::make_unique<GifFrames>(source, request);
}

}  // namespace

extern const Codec kGifCodec{"GIF", "gif", {"gif"}, true, Sniff, nullptr, nullptr, GifAnimation};

}  // namespace gm::io
