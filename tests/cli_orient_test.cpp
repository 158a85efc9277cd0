// Photos come out the way viewers show them: the EXIF orientation read from
// each format, every one of the eight applied, and a damaged block ignored.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "io/Formats.h"
#include "io/Exif.h"
#include "io/Orient.h"
#include "io/Scale.h"
#include "cli_files.h"

namespace {

using clitest::RunGlyphmosaic;
using clitest::TempDir;
using gm::Image;

// A TIFF-structured block: a description entry, then the orientation, then
// the end of the directory.
std::string ExifBlock(int orientation, bool bigEndian, bool prefix = false, uint16_t type = 3) {
  std::string b;
  auto u16 = [&](uint32_t v) {
    const char hi = static_cast<char>(v >> 8), lo = static_cast<char>(v);
    b += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  };
  auto u32 = [&](uint32_t v) {
    bigEndian ? (u16(v >> 16), u16(v & 0xFFFF)) : (u16(v & 0xFFFF), u16(v >> 16));
  };
  b += bigEndian ? "MM" : "II";
  u16(42);
  u32(8);
  u16(2);
  u16(0x010E), u16(2), u32(4), b += std::string("GM\0\0", 4);
  u16(0x0112), u16(type), u32(1), u16(static_cast<uint32_t>(orientation)), u16(0);
  u32(0);
  return prefix ? std::string("Exif\0\0", 6) + b : b;
}

TEST(Exif, ReadsTheOrientationAndIgnoresWhatIsDamaged) {
  struct Case {
    const char* name;
    std::string block;
    int want;
  };
  std::vector<Case> cases;
  for (int o = 1; o <= 8; ++o) {
    cases.push_back({"little-endian", ExifBlock(o, false), o});
    cases.push_back({"big-endian with the JPEG prefix", ExifBlock(o, true, true), o});
  }
  const std::string good = ExifBlock(6, false);
  auto spoil = [&](size_t at, std::string bytes) { return std::string(good).replace(at, bytes.size(), bytes); };
  const Case damaged[] = {
      {"empty", "", 1},
      {"prefix only", std::string("Exif\0\0", 6), 1},
      {"not TIFF", "JFIF and more bytes than a header", 1},
      {"wrong magic", spoil(2, std::string("\x2b\x00", 2)), 1},
      {"directory beyond the block", spoil(4, std::string("\xff\x00\x00\x00", 4)), 1},
      {"directory offset overflowing", spoil(4, std::string("\xfe\xff\xff\xff", 4)), 1},
      {"more entries than the block holds", spoil(8, std::string("\xff\xff", 2)), 1},
      {"cut inside the orientation entry", good.substr(0, 28), 1},
      {"orientation 0", ExifBlock(0, false), 1},
      {"orientation 9", ExifBlock(9, true), 1},
      {"orientation 65535", ExifBlock(65535, false), 1},
      {"orientation as a long", ExifBlock(6, false, false, 4), 1},
      {"orientation with no values", spoil(22 + 4, std::string("\0\0\0\0", 4)), 1},
  };
  cases.insert(cases.end(), std::begin(damaged), std::end(damaged));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(gm::io::ExifOrientation(std::span(reinterpret_cast<const uint8_t*>(c.block.data()), c.block.size())),
              c.want);
  }
}

// Stored 3 x 2 images whose four corners are told apart; the table says
// which stored corner shows at each corner of the upright image.
TEST(Orient, EachOrientationPutsTheCornersWhereViewersShowThem) {
  enum Corner { TL, TR, BL, BR };
  struct Case {
    int orientation;
    Corner uprightTopLeft, uprightTopRight, uprightBottomLeft, uprightBottomRight;
  };
  const Case cases[] = {
      {1, TL, TR, BL, BR}, {2, TR, TL, BR, BL}, {3, BR, BL, TR, TL}, {4, BL, BR, TL, TR},
      {5, TL, BL, TR, BR}, {6, BL, TL, BR, TR}, {7, BR, TR, BL, TL}, {8, TR, BR, TL, BL},
  };
  Image stored(3, 2, 4);
  for (size_t i = 0; i < stored.pixels.size(); ++i) stored.pixels[i] = static_cast<uint8_t>(100 + i);
  auto corner = [](const Image& image, Corner c) {
    const uint8_t* p = image.At(c == TR || c == BR ? image.width - 1 : 0, c == BL || c == BR ? image.height - 1 : 0);
    return std::vector<uint8_t>(p, p + image.channels);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    const Image upright = gm::io::Orient(stored, c.orientation);
    const bool swapped = c.orientation >= 5;
    ASSERT_EQ(upright.width, swapped ? 2 : 3);
    ASSERT_EQ(upright.height, swapped ? 3 : 2);
    EXPECT_EQ(corner(upright, TL), corner(stored, c.uprightTopLeft));
    EXPECT_EQ(corner(upright, TR), corner(stored, c.uprightTopRight));
    EXPECT_EQ(corner(upright, BL), corner(stored, c.uprightBottomLeft));
    EXPECT_EQ(corner(upright, BR), corner(stored, c.uprightBottomRight));
    // Inner pixels move with the corners: the inverse turn restores them all.
    const int inverse = c.orientation == 6 ? 8 : c.orientation == 8 ? 6 : c.orientation;
    EXPECT_EQ(gm::io::Orient(upright, inverse).pixels, stored.pixels);
  }
}

using clitest::Decode;

void SavePlain(const Image& image, const std::string& path) {
  clitest::PngSpec s;
  s.width = image.width;
  s.height = image.height;
  s.colourType = 2;
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    if (i % static_cast<size_t>(image.channels) < 3) s.samples.push_back(image.pixels[i]);
  }
  clitest::WritePng(path, s);
}

void SaveTagged(const Image& image, const std::string& path, const std::string& exif) {
  clitest::PngSpec s;
  s.width = image.width;
  s.height = image.height;
  s.colourType = 2;
  s.samples.assign(image.pixels.begin(), image.pixels.end());
  s.exif = exif;
  clitest::WritePng(path, s);
}

// The art of a tagged photo is the art of the same photo stored upright.
TEST(Orient, EveryOrientationFromAPngGivesTheUprightArt) {
  TempDir dir;
  const Image stored = clitest::Picture(72, 40, 3, 5);  // 9 x 3 cells stored, 5 x 6 when turned
  SavePlain(stored, dir / "stored.png");
  const std::string storedArt = clitest::TextOf({dir / "stored.png"});
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    SaveTagged(stored, dir / "tagged.png", ExifBlock(o, o % 2 == 0));
    SavePlain(gm::io::Orient(stored, o), dir / "upright.png");
    const std::string art = clitest::TextOf({dir / "tagged.png"});
    EXPECT_EQ(art, clitest::TextOf({dir / "upright.png"}));
    EXPECT_EQ(art.find('\n'), o >= 5 ? 5u : 9u);
    EXPECT_EQ(clitest::TextOf({"--no-rotate", dir / "tagged.png"}), storedArt);
  }
}

TEST(Orient, JpegAndTiffCarryTheirOrientationToo) {
  TempDir dir;
  const Image stored = clitest::Picture(64, 48, 3, 9);
  struct Case {
    const char* name;
    int orientation;
    std::function<void(const std::string&)> write;
  };
  auto jpeg = [&](std::string app1) {
    return [&stored, app1](const std::string& path) {
      clitest::WriteJpeg(path, stored.width, stored.height, 3, std::vector<uint8_t>(stored.pixels.begin(), stored.pixels.end()), false, 95,
                         app1);
    };
  };
  // 16-bit samples go through libtiff's own conversion, which could turn
  // the rows itself.
  auto tiff = [&](int orientation, int depth = 8) {
    return [&stored, orientation, depth](const std::string& path) {
      clitest::TiffSpec s;
      s.width = stored.width;
      s.height = stored.height;
      s.depth = depth;
      for (const uint8_t v : stored.pixels) s.data.push_back(static_cast<uint16_t>(depth == 16 ? v * 257 : v));
      s.orientation = orientation;
      clitest::WriteTiff(path, s);
    };
  };
  // Made from such a JPEG: cjxl takes its orientation into the JPEG XL
  // header; cwebp and heif-enc keep its EXIF block, which WebP files go by
  // and HEIF files do not.
  auto from = [&](std::vector<std::string> command) {  // "JPG" the JPEG, "OUT" the file made
    return [&jpeg, command](const std::string& path) mutable {
      jpeg(ExifBlock(6, true, true))(path + ".jpg");
      for (std::string& a : command) a = a == "JPG" ? path + ".jpg" : a == "OUT" ? path : a;
      ASSERT_EQ(clitest::RunProgram(command).exitCode, 0);
    };
  };
  const Case cases[] = {
      {"JPEG XL from a JPEG turned a quarter", 6, from({"cjxl", "-d", "0", "--lossless_jpeg=0", "JPG", "OUT"})},
      {"HEIC from a JPEG turned a quarter", 1, from({"heif-enc", "-q", "90", "JPG", "-o", "OUT"})},
      {"WebP from a JPEG turned a quarter", 6, from({"cwebp", "-quiet", "-metadata", "exif", "JPG", "-o", "OUT"})},
      {"JPEG, turned a quarter", 6, jpeg(ExifBlock(6, true, true))},
      {"JPEG, mirrored", 2, jpeg(ExifBlock(2, false, true))},
      {"JPEG, damaged block", 1, jpeg(ExifBlock(6, true, true).substr(0, 20))},
      {"JPEG, other APP1 data", 1, jpeg("http://ns.example/xmp/\0<x/>")},
      {"TIFF, turned a quarter back", 8, tiff(8)},
      {"TIFF, half round", 3, tiff(3)},
      {"TIFF, transposed", 5, tiff(5)},
      {"16-bit TIFF, half round", 3, tiff(3, 16)},
      {"16-bit TIFF, turned a quarter", 6, tiff(6, 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.write(dir / "photo");
    const Image decoded = Decode(dir / "photo");
    EXPECT_EQ(decoded.orientation, c.orientation);
    // The decoders keep the stored order; only the tool turns the image.
    if (std::string(c.name).find("TIFF") != std::string::npos) {
      EXPECT_EQ(decoded.pixels, stored.pixels);
    }
    SavePlain(gm::io::Orient(decoded, c.orientation), dir / "upright.png");
    EXPECT_EQ(clitest::TextOf({dir / "photo"}), clitest::TextOf({dir / "upright.png"}));
  }
}

TEST(Orient, DamagedPngBlocksAreIgnored) {
  TempDir dir;
  const Image stored = clitest::Picture(40, 36, 3, 2);
  SavePlain(stored, dir / "plain.png");
  const std::string plain = clitest::TextOf({dir / "plain.png"});
  for (const std::string& exif : {std::string("MM"), std::string("II*\0\xff\xff\xff\xff", 8),
                                  ExifBlock(6, false).substr(0, 24), ExifBlock(200, true)}) {
    SaveTagged(stored, dir / "tagged.png", exif);
    const auto run = RunGlyphmosaic({"--text", "-", dir / "tagged.png"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, plain);
  }
}

// --columns counts across the photo as shown: for a photo stored on its
// side, that is the stored height.
TEST(Orient, ColumnsCountAcrossTheUprightImage) {
  TempDir dir;
  const Image stored = clitest::Picture(300, 200, 3, 3);
  SaveTagged(stored, dir / "side.png", ExifBlock(6, false));
  const auto run = RunGlyphmosaic({"--columns", "10", "--text", "-", dir / "side.png", dir / "out.png"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Image out = Decode(dir / "out.png");
  EXPECT_EQ(out.width, 80);
  EXPECT_EQ(out.height, gm::io::ScaledSize(200, 300, 80).height);
  EXPECT_EQ(run.out.find('\n'), 10u);
}

}  // namespace
