// Decoders against files written by the libraries themselves, encoders by
// round trip.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>

#include "io/Formats.h"
#include "cli_files.h"

namespace {

using clitest::TempDir;
using gm::Image;
using gm::io::DecodeFile;
using gm::io::DecodeLimits;

using clitest::Decode;

struct PngCase {
  const char* name;
  int colourType;
  int depth;
  bool interlaced;
  bool withTransparency;
};

void PrintTo(const PngCase& c, std::ostream* out) { *out << c.name; }

class PngDecode : public testing::TestWithParam<PngCase> {};

// Every pixel must come out as libpng's own read gives it expanded to 8-bit
// RGB: grey spread to all three, palettes looked up, 16 bits rounded, alpha
// as stored or from a tRNS chunk, and none without either.
TEST_P(PngDecode, MatchesLibpngsOwnRead) {
  const PngCase c = GetParam();
  clitest::PngSpec s;
  s.width = 13;
  s.height = 11;
  s.colourType = c.colourType;
  s.depth = c.depth;
  s.interlaced = c.interlaced;
  const int max = (1 << c.depth) - 1;
  const bool palette = c.colourType == PNG_COLOR_TYPE_PALETTE;
  if (palette) {
    for (int i = 0; i <= max; ++i) {
      s.palette.insert(s.palette.end(), {static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i * 11),
                                         static_cast<uint8_t>(i * 5 + 3)});
      if (c.withTransparency) s.paletteAlpha.push_back(static_cast<uint8_t>(i * 17));
    }
  }
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      for (int k = 0; k < s.Channels(); ++k) s.samples.push_back(static_cast<uint16_t>((x * 4099 + y * 7919 + k * 104729) % (max + 1)));
    }
  }
  if (!palette && c.withTransparency) s.transparentColour.assign(s.Channels() == 1 ? 1 : 3, s.samples[0]);

  TempDir dir;
  clitest::WritePng(dir / "in.png", s);
  const Image image = Decode(dir / "in.png");
  const auto want = clitest::ReadPng(dir / "in.png", PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_SCALE_16 | PNG_TRANSFORM_GRAY_TO_RGB);
  ASSERT_EQ(image.width, want.width);
  ASSERT_EQ(image.height, want.height);
  ASSERT_EQ(image.channels, want.channels);
  EXPECT_EQ(std::vector<uint16_t>(image.pixels.begin(), image.pixels.end()), want.samples);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, PngDecode,
    testing::Values(PngCase{"grey1", PNG_COLOR_TYPE_GRAY, 1, false, false},
                    PngCase{"grey2", PNG_COLOR_TYPE_GRAY, 2, false, false},
                    PngCase{"grey4", PNG_COLOR_TYPE_GRAY, 4, true, false},
                    PngCase{"grey8", PNG_COLOR_TYPE_GRAY, 8, false, false},
                    PngCase{"grey8Keyed", PNG_COLOR_TYPE_GRAY, 8, false, true},
                    PngCase{"grey16", PNG_COLOR_TYPE_GRAY, 16, false, false},
                    PngCase{"greyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
                    PngCase{"greyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, true, false},
                    PngCase{"rgb8", PNG_COLOR_TYPE_RGB, 8, false, false},
                    PngCase{"rgb8Interlaced", PNG_COLOR_TYPE_RGB, 8, true, false},
                    PngCase{"rgb8Keyed", PNG_COLOR_TYPE_RGB, 8, false, true},
                    PngCase{"rgb16", PNG_COLOR_TYPE_RGB, 16, false, false},
                    PngCase{"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, true, false},
                    PngCase{"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, false},
                    PngCase{"palette1", PNG_COLOR_TYPE_PALETTE, 1, false, false},
                    PngCase{"palette4Alpha", PNG_COLOR_TYPE_PALETTE, 4, false, true},
                    PngCase{"palette8Interlaced", PNG_COLOR_TYPE_PALETTE, 8, true, false}),
    [](const testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

TEST(CliDecode, SixteenBitSamplesRoundToNearest) {
  clitest::PngSpec s;
  s.width = 6;
  s.height = 1;
  s.colourType = PNG_COLOR_TYPE_GRAY;
  s.depth = 16;
  // 32639 and 32896 straddle the 127/128 threshold; truncation would give 126 and 128.
  s.samples = {0, 128, 129, 32639, 32896, 65535};
  TempDir dir;
  clitest::WritePng(dir / "g.png", s);
  const Image image = Decode(dir / "g.png");
  const uint8_t want[] = {0, 0, 1, 127, 128, 255};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(image.At(x, 0)[0], want[x]) << "sample " << s.samples[x];
}

// JPEG is lossy: flat colour areas come back within a few levels.
struct JpegCase {
  const char* name;
  int components;
  bool progressive;
  std::vector<uint8_t> stored;  // one pixel's samples, as written
  std::array<int, 3> rgb;       // what it stands for
};

void PrintTo(const JpegCase& c, std::ostream* out) { *out << c.name; }

class JpegDecode : public testing::TestWithParam<JpegCase> {};

TEST_P(JpegDecode, FlatColourComesBackAsRgb) {
  const JpegCase& c = GetParam();
  const int w = 24, h = 17;
  std::vector<uint8_t> samples;
  for (int i = 0; i < w * h; ++i) samples.insert(samples.end(), c.stored.begin(), c.stored.end());
  TempDir dir;
  clitest::WriteJpeg(dir / "in.jpg", w, h, c.components, samples, c.progressive);
  const Image image = Decode(dir / "in.jpg");
  ASSERT_EQ(image.channels, 3);
  ASSERT_EQ(image.width, w);
  ASSERT_EQ(image.height, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int k = 0; k < 3; ++k) {
        ASSERT_NEAR(image.At(x, y)[k], c.rgb[static_cast<size_t>(k)], 3) << x << "," << y;
      }
    }
  }
}

// CMYK files carry the Adobe marker and, by that convention, inverted inks.
INSTANTIATE_TEST_SUITE_P(
    Cli, JpegDecode,
    testing::Values(JpegCase{"baseline", 3, false, {200, 40, 90}, {200, 40, 90}},
                    JpegCase{"progressive", 3, true, {20, 140, 250}, {20, 140, 250}},
                    JpegCase{"grey", 1, false, {77}, {77, 77, 77}},
                    JpegCase{"greyProgressive", 1, true, {190}, {190, 190, 190}},
                    JpegCase{"cmykRed", 4, false, {255, 0, 0, 255}, {255, 0, 0}},
                    JpegCase{"cmykHalfBlack", 4, true, {255, 255, 255, 128}, {128, 128, 128}}),
    [](const testing::TestParamInfo<JpegCase>& info) { return std::string(info.param.name); });

struct TiffCase {
  const char* name;
  int samples;
  int photometric;
  bool tiled;
  bool separate;
  bool alpha;
};

void PrintTo(const TiffCase& c, std::ostream* out) { *out << c.name; }

class TiffDecode : public testing::TestWithParam<TiffCase> {};

TEST_P(TiffDecode, MatchesTheStoredSamples) {
  const TiffCase c = GetParam();
  clitest::TiffSpec s;
  s.width = 37;
  s.height = 21;  // not a multiple of the 16 x 16 tiles nor of 5-row strips
  s.samples = c.samples;
  s.photometric = c.photometric;
  s.tiled = c.tiled;
  s.separate = c.separate;
  s.alpha = c.alpha;
  for (int i = 0; i < s.width * s.height * s.samples; ++i) s.data.push_back(static_cast<uint16_t>((i * 131 + 7) & 0xFF));
  TempDir dir;
  clitest::WriteTiff(dir / "in.tif", s);
  const Image image = Decode(dir / "in.tif");
  ASSERT_EQ(image.channels, c.alpha ? 4 : 3);
  const bool grey = c.photometric != PHOTOMETRIC_RGB;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const uint16_t* in = &s.data[(static_cast<size_t>(y) * s.width + x) * s.samples];
      for (int k = 0; k < 3; ++k) {
        uint8_t want = static_cast<uint8_t>(in[grey ? 0 : k]);
        if (c.photometric == PHOTOMETRIC_MINISWHITE) want = static_cast<uint8_t>(255 - want);
        ASSERT_EQ(image.At(x, y)[k], want) << x << "," << y << " channel " << k;
      }
      if (c.alpha) {
        ASSERT_EQ(image.At(x, y)[3], in[s.samples - 1]) << x << "," << y << " alpha";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, TiffDecode,
    testing::Values(TiffCase{"greyStrips", 1, PHOTOMETRIC_MINISBLACK, false, false, false},
                    TiffCase{"whiteIsZero", 1, PHOTOMETRIC_MINISWHITE, false, false, false},
                    TiffCase{"greyAlphaTiles", 2, PHOTOMETRIC_MINISBLACK, true, false, true},
                    TiffCase{"rgbStrips", 3, PHOTOMETRIC_RGB, false, false, false},
                    TiffCase{"rgbTiles", 3, PHOTOMETRIC_RGB, true, false, false},
                    TiffCase{"rgbPlanes", 3, PHOTOMETRIC_RGB, false, true, false},
                    TiffCase{"rgbaTilesPlanes", 4, PHOTOMETRIC_RGB, true, true, true},
                    TiffCase{"rgbaStrips", 4, PHOTOMETRIC_RGB, false, false, true}),
    [](const testing::TestParamInfo<TiffCase>& info) { return std::string(info.param.name); });

TEST(CliDecode, TiffPaletteAndSixteenBitGoThroughLibtiffsConversion) {
  TempDir dir;
  clitest::TiffSpec palette;
  palette.width = 9;
  palette.height = 4;
  palette.samples = 1;
  palette.photometric = PHOTOMETRIC_PALETTE;
  for (int i = 0; i < 256; ++i) palette.colourMap.push_back(static_cast<uint16_t>(i * 257));        // red
  for (int i = 0; i < 256; ++i) palette.colourMap.push_back(static_cast<uint16_t>((255 - i) * 257));  // green
  for (int i = 0; i < 256; ++i) palette.colourMap.push_back(static_cast<uint16_t>(128 * 257));       // blue
  for (int i = 0; i < 36; ++i) palette.data.push_back(static_cast<uint16_t>(i * 7));
  clitest::WriteTiff(dir / "p.tif", palette);
  const Image p = Decode(dir / "p.tif");
  ASSERT_EQ(p.channels, 3);
  EXPECT_EQ(p.At(5, 0)[0], 35);
  EXPECT_EQ(p.At(5, 0)[1], 220);
  EXPECT_EQ(p.At(5, 0)[2], 128);

  clitest::TiffSpec deep;
  deep.width = 3;
  deep.height = 2;
  deep.depth = 16;
  deep.data = {0, 65535, 32896, 257, 514, 771, 0, 0, 0, 65535, 65535, 65535, 1000, 2000, 3000, 60000, 50000, 40000};
  clitest::WriteTiff(dir / "d.tif", deep);
  const Image d = Decode(dir / "d.tif");
  ASSERT_EQ(d.channels, 3);
  EXPECT_EQ(d.At(0, 0)[1], 255);
  EXPECT_EQ(d.At(1, 0)[2], 3);
  EXPECT_EQ(d.At(0, 1)[0], 255);
}

// Premultiplied colour is divided back out, c = round(c' · 255 / a); libtiff's
// RGBA conversion premultiplies even unassociated alpha, which is undone too,
// as closely as the premultiplied levels allow.
TEST(CliDecode, TiffAlphaComesOutUnassociated) {
  struct Case {
    const char* name;
    int samples, depth;
    bool tiled, separate, associated;
  };
  const Case cases[] = {
      {"rgbaAssociated", 4, 8, false, false, true},
      {"greyAlphaAssociatedPlanes", 2, 8, true, true, true},
      {"rgba16Unassociated", 4, 16, false, false, false},
      {"rgba16Associated", 4, 16, true, false, true},
  };
  for (const Case& c : cases) {
    clitest::TiffSpec s;
    s.width = 23;
    s.height = 9;
    s.samples = c.samples;
    s.photometric = c.samples == 2 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
    s.depth = c.depth;
    s.tiled = c.tiled;
    s.separate = c.separate;
    s.alpha = true;
    s.associated = c.associated;
    const int scale = c.depth == 16 ? 257 : 1;
    std::vector<std::array<int, 4>> want;  // unassociated 8-bit levels
    for (int i = 0; i < s.width * s.height; ++i) {
      const int a = (i * 37) % 256;
      std::array<int, 4> v{(i * 91) % 256, (i * 53 + 17) % 256, (i * 29 + 200) % 256, a};
      if (c.samples == 2) v[1] = v[2] = v[0];
      if (c.associated) {
        for (int k = 0; k < 3; ++k) v[k] = v[k] * a / 255;  // a valid premultiplied level
      }
      for (int k = 0; k < c.samples - 1; ++k) s.data.push_back(static_cast<uint16_t>(v[static_cast<size_t>(k)] * scale));
      s.data.push_back(static_cast<uint16_t>(a * scale));
      if (c.associated) {
        for (int k = 0; k < 3; ++k) v[k] = a == 0 ? 0 : std::min(255, (v[k] * 255 + a / 2) / a);
      }
      want.push_back(v);
    }
    TempDir dir;
    clitest::WriteTiff(dir / "in.tif", s);
    const Image image = Decode(dir / "in.tif");
    ASSERT_EQ(image.channels, 4) << c.name;
    for (int i = 0; i < s.width * s.height; ++i) {
      const uint8_t* got = image.At(i % s.width, i / s.width);
      const auto& v = want[static_cast<size_t>(i)];
      ASSERT_EQ(got[3], v[3]) << c.name << " pixel " << i;
      for (int k = 0; k < 3; ++k) {
        // Premultiplied to 8 bits and back, a level is known to within 255 / a.
        const int slack = c.associated || c.depth == 8 ? 0 : (255 + v[3] - 1) / std::max(1, v[3]);
        if (v[3] == 0) {
          ASSERT_EQ(got[k], 0) << c.name << " pixel " << i;
        } else {
          ASSERT_NEAR(got[k], v[static_cast<size_t>(k)], slack) << c.name << " pixel " << i << " channel " << k;
        }
      }
    }
  }
}

// Lossless formats give back the pixels written; an all-grey image is
// stored with one colour sample and still decodes to the same values.
TEST(CliEncode, LosslessRoundTripsKeepEveryPixelAndPickGreyscaleWhenTheyCan) {
  struct Case {
    const char* name;
    const gm::io::Codec* format;
    bool grey;
    int channels;
  };
  const Case cases[] = {
      {"colour.png", gm::io::CodecNamed("png"), false, 3},  {"grey.png", gm::io::CodecNamed("png"), true, 3},
      {"greyA.png", gm::io::CodecNamed("png"), true, 4},    {"rgba.png", gm::io::CodecNamed("png"), false, 4},
      {"colour.tif", gm::io::CodecNamed("tiff"), false, 3}, {"grey.tif", gm::io::CodecNamed("tiff"), true, 3},
      {"greyA.tif", gm::io::CodecNamed("tiff"), true, 4},   {"rgba.tif", gm::io::CodecNamed("tiff"), false, 4},
      {"colour.webp", gm::io::CodecNamed("webp"), false, 3}, {"rgba.webp", gm::io::CodecNamed("webp"), false, 4},
  };
  TempDir dir;
  for (const Case& c : cases) {
    Image image = clitest::Picture(29, 17, c.channels, 3);
    if (c.grey) {
      for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) image.At(x, y)[1] = image.At(x, y)[2] = image.At(x, y)[0];
      }
    }
    ASSERT_EQ(gm::io::IsGrey(image), c.grey) << c.name;
    const std::string path = dir / c.name;
    {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ASSERT_GE(fd, 0);
      gm::io::Encode(image, *c.format, fd, path, {});
      ::close(fd);
    }
    const Image back = Decode(path);
    EXPECT_EQ(back.channels, image.channels) << c.name;
    EXPECT_EQ(back.pixels, image.pixels) << c.name;

    int stored = 0;  // colour samples per pixel in the file; WebP has no greyscale
    if (c.format == gm::io::CodecNamed("webp")) continue;
    if (c.format == gm::io::CodecNamed("png")) {
      const std::string bytes = clitest::ReadFile(path);
      const int type = static_cast<uint8_t>(bytes[25]);  // IHDR colour type
      stored = (type & PNG_COLOR_MASK_COLOR) ? 3 : 1;
    } else {
      TIFF* t = TIFFOpen(path.c_str(), "r");
      uint16_t photometric = 0;
      TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
      TIFFClose(t);
      stored = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    }
    EXPECT_EQ(stored, c.grey ? 1 : 3) << c.name;
  }
}

TEST(CliEncode, JpegRefusesAlphaAndKeepsGreyGrey) {
  TempDir dir;
  const std::string path = dir / "out.jpg";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const Image rgba = clitest::Picture(16, 16, 4);
  try {
    gm::io::Encode(rgba, *gm::io::CodecNamed("jpeg"), fd, path, {});
    ADD_FAILURE() << "alpha written to JPEG";
  } catch (const gm::io::Error& e) {
    EXPECT_NE(std::string(e.what()).find("alpha"), std::string::npos) << e.what();
  }
  Image grey(16, 16, 3);
  std::fill(grey.pixels.begin(), grey.pixels.end(), 192);
  gm::io::Encode(grey, *gm::io::CodecNamed("jpeg"), fd, path, {});
  ::close(fd);
  const Image back = Decode(path);
  for (uint8_t v : back.pixels) ASSERT_NEAR(v, 192, 1);
}

}  // namespace
