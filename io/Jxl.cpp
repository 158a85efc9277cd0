// JPEG XL through libjxl: a still image is an animation of one frame. The
// decoder composes each shown frame on the canvas itself, writing 8-bit
// RGBA straight into it; the orientation is noted, not applied, as for the
// other formats.
#include <jxl/decode.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "io/Animation.h"
#include "io/Formats.h"
#include "io/Quiet.h"

namespace gm::io {

namespace {

bool Sniff(std::span<const uint8_t> head) {
  const JxlSignature kind = JxlSignatureCheck(head.data(), head.size());
  return kind == JXL_SIG_CODESTREAM || kind == JXL_SIG_CONTAINER;
}

class JxlFrames final : public FrameReader {
 public:
  JxlFrames(Source& source, const DecodeRequest& request)
      : path_(source.Name()), cancel_(request.cancel), decoder_(JxlDecoderCreate(nullptr), JxlDecoderDestroy) {
    DecodeLimits limits = request.limits;
    const std::span<const uint8_t> data = source.Whole(limits.maxBytes, "JPEG XL");
    limits.maxBytes -= std::min(limits.maxBytes, source.HeldBytes());
    JxlDecoder* d = decoder_.get();
    if (!d || JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(d, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(d, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(d, RunInTurn, this) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(d, data.data(), data.size()) != JXL_DEC_SUCCESS) {
      throw std::bad_alloc();
    }
    JxlDecoderCloseInput(d);
    if (Process() != JXL_DEC_BASIC_INFO || JxlDecoderGetBasicInfo(d, &info_) != JXL_DEC_SUCCESS) {
      Fail("not a valid JPEG XL file");
    }
    width = static_cast<int32_t>(std::min<uint32_t>(info_.xsize, INT32_MAX));
    height = static_cast<int32_t>(std::min<uint32_t>(info_.ysize, INT32_MAX));
    orientation = info_.orientation >= 1 && info_.orientation <= 8 ? static_cast<int>(info_.orientation) : 1;
    animated = info_.have_animation;
    plays = animated ? static_cast<int>(std::min<uint32_t>(info_.animation.num_loops, INT32_MAX)) : 1;
    alpha = info_.alpha_bits > 0;
    // libjxl renders a still frame group by group, holding a few bytes a
    // pixel (measured: about 3 for a 12-megapixel photo, lossy or lossless);
    // an animation also keeps, as floats, the frames later ones blend with.
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    CheckMemory(path_, pixels * (animated ? 16 : 4) + (uint64_t{1} << 24), "the JPEG XL decoder's buffers",
                DecodeRequest(limits, {}, request.scale));
    canvas_ = Image(width, height, 4);
  }

  const Image* Next(int& delayMs) override {
    JxlDecoder* d = decoder_.get();
    JxlFrameHeader header{};
    for (JxlDecoderStatus status = Process(); status != JXL_DEC_FULL_IMAGE; status = Process()) {
      switch (status) {
        case JXL_DEC_SUCCESS:
          return nullptr;
        case JXL_DEC_FRAME:
          if (JxlDecoderGetFrameHeader(d, &header) != JXL_DEC_SUCCESS) Fail("corrupt JPEG XL frame");
          break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
          static constexpr JxlPixelFormat kFormat{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
          size_t bytes = 0;
          if (JxlDecoderImageOutBufferSize(d, &kFormat, &bytes) != JXL_DEC_SUCCESS || bytes != canvas_.pixels.size() ||
              JxlDecoderSetImageOutBuffer(d, &kFormat, canvas_.pixels.data(), bytes) != JXL_DEC_SUCCESS) {
            Fail("corrupt or truncated JPEG XL file");
          }
          break;
        }
        default:
          Fail("corrupt or truncated JPEG XL file");
      }
    }
    const double tick = info_.animation.tps_numerator ? 1000.0 * info_.animation.tps_denominator /
                                                           info_.animation.tps_numerator
                                                     : 0;
    delayMs = static_cast<int>(std::min(std::lround(header.duration * tick), long{INT32_MAX}));
    return &canvas_;
  }

 private:
  JxlDecoderStatus Process() {
    const JxlDecoderStatus status = [&] {
      const QuietStderr quiet;
      return JxlDecoderProcessInput(decoder_.get());
    }();
    if (cancelled_) throw Cancelled(path_);
    return status;
  }

  [[noreturn]] void Fail(const char* what) { throw Error(path_, what); }

  // libjxl's work items one after another, on this thread, with the cancel
  // polled between them: a work item that is not run fails the decode.
  static JxlParallelRetCode RunInTurn(void* self, void* opaque, JxlParallelRunInit init, JxlParallelRunFunction run,
                                      uint32_t start, uint32_t end) {
    auto* frames = static_cast<JxlFrames*>(self);
    if (const JxlParallelRetCode failed = init(opaque, 1)) return failed;
    for (uint32_t i = start; i < end; ++i) {
      if (frames->cancel_ && frames->cancel_()) {
        frames->cancelled_ = true;
        return -1;
      }
      run(opaque, i, 0);
    }
    return 0;
  }

  std::string path_;
  CancelCheck cancel_;
  std::unique_ptr<JxlDecoder, decltype(&JxlDecoderDestroy)> decoder_;
  JxlBasicInfo info_{};
  Image canvas_;
  bool cancelled_ = false;
};

std::unique_ptr<FrameReader> JxlAnimation(Source& source, const DecodeRequest& request) {
  return std::make_unique<JxlFrames>(source, request);
}

}  // namespace

extern const Codec kJxlCodec{"JPEG XL", "jxl", {"jxl"}, true, Sniff, nullptr, nullptr, JxlAnimation};

}  // namespace gm::io
