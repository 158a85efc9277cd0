// WebP, GIF, HEIC, AVIF and JPEG XL against files the formats' own encoders
// make: each decodes to what the format's own decoder makes of it, gives
// the art the same image gives as PNG (all of it for lossless files, 99 % of
// the glyphs for lossy ones), and is refused with one line when it would
// take more memory than allowed or is cut short.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cmath>
#include <filesystem>

#include "io/Animation.h"
#include "io/Formats.h"
#include "io/Orient.h"
#include "cli_files.h"

namespace {

using clitest::TempDir;
using gm::Image;
using Command = std::vector<std::string>;  // "@in" the source PNG, "@out" the file made, "@ref" the reference PNG

struct Layout {
  const char* name;
  Command encode;
  Command reference;  // the format's own decoder writing "@ref"; none: libheif's planes, read here
  int channels;       // of the source; 1 is grey
  bool lossless;
  bool palette = false;  // at most 256 colours and binary alpha
};

const Command kDwebp = {"dwebp", "-quiet", "@out", "-o", "@ref"};
const Command kDjxl = {"djxl", "@out", "@ref"};
const Command kMagick = {"convert", "@out", "@ref"};
const Command kPlanes = {};

// Some encoders tell the source's format by its extension; the file made has none.
Command Expand(Command command, const TempDir& dir) {
  const std::pair<std::string, std::string> files[] = {{"@in", "in.png"}, {"@out", "out"}, {"@ref", "ref.png"}};
  for (std::string& a : command) {
    for (const auto& [mark, name] : files) {
      if (const auto at = a.find(mark); at != std::string::npos) a.replace(at, mark.size(), dir / name);
    }
  }
  return command;
}

// A picture with edges, gradients and noise; grey, or cut down to a palette.
Image Source(int channels, bool palette, int32_t width, int32_t height, uint32_t seed) {
  Image image = clitest::Picture(width, height, channels == 1 ? 3 : channels, seed);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = image.At(x, y);
      if (channels == 1) p[1] = p[2] = p[0];
      if (!palette) continue;
      // 128 colours: room for a transparent one.
      p[0] &= 0xE0;
      p[1] &= 0xC0;
      p[2] &= 0xC0;
      // A GIF keeps no colour under transparent pixels: black, as the tool decodes them.
      if (channels == 4 && p[3] < 128) std::fill(p, p + 4, 0);
      if (channels == 4) p[3] = p[3] == 0 ? 0 : 255;
    }
  }
  return image;
}

// libheif's own decode to planes of R, G and B at the file's depth, made
// 8-bit by v8 = round(v x 255 / (2^bits - 1)).
Image HeifPlanes(const std::string& path) {
  heif_context* context = heif_context_alloc();
  heif_image_handle* handle = nullptr;
  heif_image* decoded = nullptr;
  heif_context_read_from_file(context, path.c_str(), nullptr);
  heif_context_get_primary_image_handle(context, &handle);
  const bool alpha = heif_image_handle_has_alpha_channel(handle);
  EXPECT_EQ(heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_444, nullptr).code, heif_error_Ok);
  Image image(heif_image_get_width(decoded, heif_channel_R), heif_image_get_height(decoded, heif_channel_R),
              alpha ? 4 : 3);
  const heif_channel planes[] = {heif_channel_R, heif_channel_G, heif_channel_B, heif_channel_Alpha};
  for (int c = 0; c < image.channels; ++c) {
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(decoded, planes[c], &stride);
    const int bits = heif_image_get_bits_per_pixel_range(decoded, planes[c]);
    for (int32_t y = 0; y < image.height; ++y) {
      for (int32_t x = 0; x < image.width; ++x) {
        const uint8_t* at = plane + static_cast<size_t>(y) * stride;
        const int v = bits > 8 ? reinterpret_cast<const uint16_t*>(at)[x] : at[x];
        image.At(x, y)[c] = static_cast<uint8_t>(std::lround(v * 255.0 / ((1 << bits) - 1)));
      }
    }
  }
  heif_image_release(decoded);
  heif_image_handle_release(handle);
  heif_context_free(context);
  return image;
}

// Equal where it shows: colour under fully transparent pixels is not compared.
void ExpectSameImage(const Image& got, const Image& want, const std::string& what) {
  ASSERT_EQ(got.width, want.width) << what;
  ASSERT_EQ(got.height, want.height) << what;
  ASSERT_EQ(got.channels, want.channels) << what;
  int differing = 0;
  for (int32_t y = 0; y < got.height; ++y) {
    for (int32_t x = 0; x < got.width; ++x) {
      const bool seen = got.channels == 3 || want.At(x, y)[3] > 0;
      for (int c = seen ? 0 : 3; c < got.channels; ++c) differing += got.At(x, y)[c] != want.At(x, y)[c];
    }
  }
  EXPECT_EQ(differing, 0) << what << ": samples that differ from the format's own decode";
}

double GlyphsAlike(const std::string& a, const std::string& b) {
  EXPECT_EQ(a.size(), b.size());
  size_t same = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) same += a[i] == b[i];
  return static_cast<double>(same) / static_cast<double>(std::max<size_t>(1, a.size()));
}

class MadeByEncoder : public testing::TestWithParam<Layout> {};

TEST_P(MadeByEncoder, DecodesAsItsOwnDecoderAndDrawsThePngsArt) {
  const Layout& l = GetParam();
  TempDir dir;
  // Lossy files are larger, so that one glyph is a small part of the art; odd sizes both.
  const int32_t width = l.lossless ? 37 : 241, height = l.lossless ? 23 : 181;
  clitest::Save(Source(l.channels, l.palette, width, height, 5), dir / "in.png");
  ASSERT_EQ(clitest::RunProgram(Expand(l.encode, dir)).exitCode, 0) << l.name << ": the encoder failed";
  const Image ours = clitest::Decode(dir / "out");
  Image reference;
  if (l.reference.empty()) {
    reference = HeifPlanes(dir / "out");
  } else {
    ASSERT_EQ(clitest::RunProgram(Expand(l.reference, dir)).exitCode, 0) << l.name << ": the reference decoder failed";
    reference = clitest::Decode(dir / "ref.png");
  }
  // Under emulation the reference decoder is the host's, and a lossy decode's
  // floating point may round otherwise on another processor.
#ifndef GM_EMULATED
  ExpectSameImage(gm::io::Orient(ours, ours.orientation), reference, l.name);
#else
  if (l.lossless) ExpectSameImage(gm::io::Orient(ours, ours.orientation), reference, l.name);
#endif
  // Recognised by content, whatever the name.
  const std::string art = clitest::TextOf({dir / "out"});
  if (l.lossless) {
    EXPECT_EQ(art, clitest::TextOf({dir / "in.png"})) << l.name;
  } else {
    clitest::Save(reference, dir / "ref.png");
    EXPECT_GE(GlyphsAlike(art, clitest::TextOf({dir / "ref.png"})), 0.99) << l.name;
  }
  clitest::ExpectOneLineFailure(clitest::RunGlyphmosaic({"--max-memory", "64K", dir / "out", dir / "art.png"}), 2,
                                "(--max-memory)");
  std::string cut = clitest::ReadFile(dir / "out");
  cut.resize(cut.size() * 2 / 3);
  clitest::WriteFile(dir / "cut", cut);
  clitest::ExpectOneLineFailure(clitest::RunGlyphmosaic({dir / "cut", dir / "art.png"}), 2, dir / "cut");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, MadeByEncoder,
    testing::Values(
        Layout{"webpLossy", {"cwebp", "-quiet", "-q", "90", "@in", "-o", "@out"}, kDwebp, 3, false},
        Layout{"webpLossyAlpha", {"cwebp", "-quiet", "-q", "90", "@in", "-o", "@out"}, kDwebp, 4, false},
        Layout{"webpLossless", {"cwebp", "-quiet", "-lossless", "-exact", "@in", "-o", "@out"}, kDwebp, 4, true},
        Layout{"gifPalette", {"convert", "@in", "gif:@out"}, kMagick, 3, true, true},
        Layout{"gifTransparent", {"convert", "@in", "gif:@out"}, kMagick, 4, true, true},
        Layout{"gifInterlaced", {"convert", "@in", "-interlace", "GIF", "gif:@out"}, kMagick, 3, true, true},
        Layout{"heic420", {"heif-enc", "-q", "90", "@in", "-o", "@out"}, kPlanes, 3, false},
        Layout{"heic422", {"heif-enc", "-q", "90", "-p", "chroma=422", "@in", "-o", "@out"}, kPlanes, 3, false},
        Layout{"heic444", {"heif-enc", "-q", "90", "-p", "chroma=444", "@in", "-o", "@out"}, kPlanes, 3, false},
        Layout{"heicMonochrome", {"heif-enc", "-q", "90", "@in", "-o", "@out"}, kPlanes, 1, false},
        Layout{"heicAlpha", {"heif-enc", "-q", "90", "@in", "-o", "@out"}, kPlanes, 4, false},
        // The primary image is the first of the two.
        Layout{"heicTwoImages", {"heif-enc", "-q", "90", "@in", GM_SAMPLES_DIR "/coffee.png", "-o", "@out"}, kPlanes, 3,
               false},
        Layout{"avif420", {"avifenc", "-s", "8", "-y", "420", "@in", "@out"}, kPlanes, 3, false},
        Layout{"avif444", {"heif-enc", "-A", "-q", "90", "@in", "-o", "@out"}, kPlanes, 3, false},
        Layout{"avif422TenBit", {"avifenc", "-s", "8", "-d", "10", "-y", "422", "@in", "@out"}, kPlanes, 3, false},
        Layout{"avif420TenBit", {"avifenc", "-s", "8", "-d", "10", "-y", "420", "@in", "@out"}, kPlanes, 3, false},
        Layout{"avif444TwelveBit", {"avifenc", "-s", "8", "-d", "12", "-y", "444", "@in", "@out"}, kPlanes, 4, false},
        Layout{"avifMonochrome", {"avifenc", "-s", "8", "-y", "400", "@in", "@out"}, kPlanes, 1, false},
        Layout{"avifLossless", {"avifenc", "-s", "8", "-l", "@in", "@out"}, kPlanes, 4, true},
        Layout{"jxlLossless", {"cjxl", "-d", "0", "@in", "@out"}, kDjxl, 4, true},
        Layout{"jxlLossy", {"cjxl", "-d", "1", "@in", "@out"}, kDjxl, 3, false},
        Layout{"jxlGreyLossless", {"cjxl", "-d", "0", "@in", "@out"}, kDjxl, 1, true}),
    [](const testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// Three frames that share most of their pixels, so that the encoders store
// only the changes: ImageMagick's GIF draws the second and third frames as
// patches disposed of by restoring the canvas before them.
std::vector<Image> Frames(const TempDir& dir) {
  std::vector<Image> frames;
  for (int k = 0; k < 3; ++k) {
    frames.push_back(Source(3, true, 37, 23, 10));
    const Image patch = Source(3, true, 37, 23, 11 + k);
    for (int32_t y = 3 + 5 * k; y < 11 + 5 * k && k > 0; ++y) {
      std::copy_n(patch.At(8 * k, y), 12 * 3, frames.back().At(8 * k, y));
    }
    clitest::Save(frames.back(), dir / std::string("f").append(std::to_string(k)).append(".png"));
  }
  return frames;
}

TEST(CliFormats, AnimationsGiveEachFrameComposedWithItsDelayAndPlays) {
  TempDir dir;
  const std::vector<Image> frames = Frames(dir);
  const std::string f0 = dir / "f0.png", f1 = dir / "f1.png", f2 = dir / "f2.png";
  // 10 ms, shown as 100 ms, then 250 ms each; shown twice: ImageMagick writes
  // one repeat, which browsers show after the first showing, img2webp two
  // showings; cjxl drops the count, so the JPEG XL file plays for ever.
  ASSERT_EQ(clitest::RunProgram(
      {"convert", "-delay", "1", f0, "-delay", "25", f1, f2, "-loop", "2", "-layers", "Optimize", std::string("gif:").append(dir / "gif")}).exitCode, 0);
  ASSERT_EQ(clitest::RunProgram({"img2webp", "-loop", "2", "-lossless", "-d", "10", f0, "-d", "250", f1, f2, "-o",
                                 dir / "webp"}).exitCode, 0);
  ASSERT_EQ(clitest::RunProgram({"cjxl", "-d", "0", dir / "gif", dir / "jxl"}).exitCode, 0);
  for (const auto& [name, plays] : {std::pair{"gif", 2}, {"webp", 2}, {"jxl", 0}}) {
    SCOPED_TRACE(name);
    for (int32_t k = 0; k < 3; ++k) {
      gm::io::DecodeRequest request;
      request.frame = k;
      ExpectSameImage(gm::io::DecodeFile(dir / name, request), frames[static_cast<size_t>(k)], "frame " + std::to_string(k));
    }
    clitest::ExpectOneLineFailure(clitest::RunGlyphmosaic({"--frame", "4", dir / name, dir / "out.png"}), 2,
                                  "the animation has only 3 frames");
    gm::io::Animation animation(dir / name, {});
    EXPECT_TRUE(animation.Animated());
    EXPECT_EQ(animation.Plays(), plays);
    Image frame;
    std::vector<int> delays(3);
    for (int& delay : delays) ASSERT_TRUE(animation.Next(frame, delay));
    EXPECT_FALSE(animation.Next(frame, delays[0]));
    EXPECT_EQ(delays, (std::vector<int>{100, 250, 250}));
  }
}

}  // namespace
