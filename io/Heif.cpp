// HEIC and AVIF through libheif: the primary image, with the rotation,
// mirroring and crop the file's own boxes call for, which libheif applies
// (the EXIF orientation of such files describes the image before those, so
// it is not looked at). Colour comes from libheif's conversion to RGB;
// deeper samples become 8-bit by v8 = round(v x 255 / (2^bits - 1)).
#include <libheif/heif.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "io/Builder.h"
#include "io/Formats.h"
#include "io/Quiet.h"

namespace gm::io {

namespace {

// The major brands of the two formats, at bytes 8 to 11 of the file's first box.
constexpr const char* kHeicBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1"};
constexpr const char* kAvifBrands[] = {"avif", "avis"};

template <size_t N>
bool HasBrand(std::span<const uint8_t> h, const char* const (&brands)[N]) {
  if (h.size() < 12 || std::memcmp(h.data() + 4, "ftyp", 4) != 0) return false;
  return std::any_of(std::begin(brands), std::end(brands),
                     [&](const char* b) { return std::memcmp(h.data() + 8, b, 4) == 0; });
}

bool SniffHeic(std::span<const uint8_t> h) { return HasBrand(h, kHeicBrands); }
bool SniffAvif(std::span<const uint8_t> h) { return HasBrand(h, kAvifBrands); }

// libheif's messages, as one line.
std::string Reason(const heif_error& error) {
  std::string text = error.message ? error.message : "unknown error";
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

template <auto Free>
struct Freeing {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using Context = std::unique_ptr<heif_context, Freeing<heif_context_free>>;
using Handle = std::unique_ptr<heif_image_handle, Freeing<heif_image_handle_release>>;
using Picture = std::unique_ptr<heif_image, Freeing<heif_image_release>>;
using Options = std::unique_ptr<heif_decoding_options, Freeing<heif_decoding_options_free>>;

// Premultiplied colour back to what it stands for, as TIFF's is.
void Unassociate(uint8_t* p, size_t count) {
  for (; count-- > 0; p += 4) {
    const unsigned a = p[3];
    for (int c = 0; c < 3; ++c) p[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
  }
}

Image DecodeHeif(Source& source, const DecodeRequest& request) {
  const std::string& path = source.Name();
  DecodeLimits limits = request.limits;
  const std::span<const uint8_t> data = source.Whole(limits.maxBytes, "HEIF");
  limits.maxBytes -= std::min(limits.maxBytes, source.HeldBytes());

  const Context context(heif_context_alloc());
  if (!context) throw std::bad_alloc();
  heif_context_set_maximum_image_size_limit(context.get(),
                                            static_cast<int>(std::min<int64_t>(limits.maxDimension, INT_MAX)));
  heif_error error = heif_context_read_from_memory_without_copy(context.get(), data.data(), data.size(), nullptr);
  if (error.code != heif_error_Ok) throw Error(path, "not a valid HEIF file: " + Reason(error));
  heif_image_handle* primary = nullptr;
  error = heif_context_get_primary_image_handle(context.get(), &primary);
  const Handle handle(primary);
  if (error.code != heif_error_Ok) throw Error(path, "no image in the HEIF file: " + Reason(error));

  const auto width = static_cast<uint32_t>(std::max(0, heif_image_handle_get_width(primary)));
  const auto height = static_cast<uint32_t>(std::max(0, heif_image_handle_get_height(primary)));
  const bool alpha = heif_image_handle_has_alpha_channel(primary);
  const int channels = alpha ? 4 : 3;
  const int bits = std::max(heif_image_handle_get_luma_bits_per_pixel(primary), 8);
  CheckDimensions(path, width, height, channels, DecodeLimits{limits.maxDimension, UINT64_MAX});
  // The decoder's own pictures and libheif's copy of the planes (up to
  // three of full size, and alpha), and libheif's interleaved conversion,
  // besides the decoder's state (dav1d's is about 2 MiB): measured, 110 MB
  // for a 12-megapixel AVIF, 128 MB for a HEIC.
  const uint64_t sample = bits > 8 ? 2 : 1;
  const uint64_t pixels = uint64_t{width} * height;
  const auto target = request.scale.Resolve(width, height);
  const uint64_t out = target ? static_cast<uint64_t>(target->width) * static_cast<uint64_t>(target->height) : pixels;
  CheckMemory(path, pixels * sample * (3 * (3 + alpha) + channels) + out * channels + (uint64_t{4} << 20),
              "the decoded image and the HEIF decoder's planes", limits);

  const Options options(heif_decoding_options_alloc());
  if (!options) throw std::bad_alloc();
  const heif_chroma chroma = bits > 8 ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                      : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  if (request.Cancelled()) throw Cancelled(path);
  heif_image* decoded = nullptr;
  {
    const QuietStderr quiet;
    error = heif_decode_image(primary, &decoded, heif_colorspace_RGB, chroma, options.get());
  }
  const Picture picture(decoded);
  if (error.code != heif_error_Ok) throw Error(path, "corrupt HEIF image: " + Reason(error));
  if (request.Cancelled()) throw Cancelled(path);

  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
  const int w = heif_image_get_width(decoded, heif_channel_interleaved);
  const int h = heif_image_get_height(decoded, heif_channel_interleaved);
  const int depth = heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved);
  if (!plane || w != static_cast<int>(width) || h != static_cast<int>(height) || depth < 8 || depth > 16 ||
      stride < w * channels * static_cast<int>(sample)) {
    throw Error(path, "libheif decoded the image to an unexpected layout");
  }
  const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(primary);
  ImageBuilder image(path, width, height, channels, target, true, limits);
  const uint32_t max = (1u << depth) - 1;
  const size_t samples = static_cast<size_t>(w) * channels;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* in = plane + static_cast<size_t>(y) * static_cast<size_t>(stride);
    uint8_t* row = image.Rows(y, y + 1);
    if (sample == 1) {
      std::memcpy(row, in, samples);
    } else {
      for (size_t i = 0; i < samples; ++i) {
        const uint32_t v = std::min<uint32_t>(in[2 * i] | (in[2 * i + 1] << 8), max);
        row[i] = static_cast<uint8_t>((v * 510 + max) / (2 * max));
      }
    }
    if (premultiplied) Unassociate(row, static_cast<size_t>(w));
    image.Done(y + 1);
    if ((y & 63) == 63 && request.Cancelled()) throw Cancelled(path);
  }
  return image.Finish();
}

}  // namespace

extern const Codec kHeicCodec{"HEIC", "heic", {"heic", "heif"}, true, SniffHeic, DecodeHeif, nullptr};
extern const Codec kAvifCodec{"AVIF", "avif", {"avif"}, true, SniffAvif, DecodeHeif, nullptr};

}  // namespace gm::io
