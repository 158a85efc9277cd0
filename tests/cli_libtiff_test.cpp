// libtiff's own test images, the kinds of TIFF file people really have:
// each decodes (an 8-bit one to exactly what libtiff's RGBA interface makes
// of it, read whole) or is refused with one line; none crashes the tool.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/Formats.h"
#include "cli_files.h"

namespace {

const std::string kFolder = std::string(GM_SOURCE_DIR) + "/tests/data/libtiff";

// Files the tool must refuse, with a part of the reason. Every other TIFF
// file of the folder must decode.
const std::map<std::string, std::string> kRefused = {
    {"test_float64_predictor2_be_lzw.tif", "64-bit samples"},
    {"test_float64_predictor2_le_lzw.tif", "64-bit samples"},
    // Corrupt fax strips: with errors ignored they used to become white.
    {"testfax3_bug_513.tiff", "corrupt"},
    {"testfax3_bug54_1dnoEOL.tif", "corrupt"},
    {"LICENSE.md", "not a PNG, JPEG or TIFF image"},
    {"README.txt", "not a PNG, JPEG or TIFF image"},
};

std::vector<std::string> FolderFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kFolder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(LibtiffImages, EachDecodesOrFailsWithOneLine) {
  TIFFSetWarningHandler(nullptr);  // the files are odd on purpose; the tool keeps quiet about it
  const std::vector<std::string> names = FolderFiles();
  for (const auto& [name, reason] : kRefused) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name << " is missing";
  }
  clitest::TempDir dir;
  for (const std::string& name : names) {
    const auto run = clitest::RunGlyphmosaic({"-q", kFolder + "/" + name, dir / "out.png"});
    const auto refused = kRefused.find(name);
    if (refused == kRefused.end()) {
      EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
      EXPECT_TRUE(clitest::Exists(dir / "out.png")) << name;
      EXPECT_EQ(run.err, "") << name;
    } else {
      EXPECT_EQ(run.exitCode, 2) << name << ": " << run.err;
      EXPECT_NE(run.err.find(refused->second), std::string::npos) << name << ": " << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << name << ": " << run.err;
      EXPECT_FALSE(clitest::Exists(dir / "out.png")) << name;
    }
    std::filesystem::remove(dir / "out.png");
  }
}

// libtiff's RGBA interface hands back premultiplied colour; the tool's
// decode is unassociated, which premultiplies back to exactly those levels.
TEST(LibtiffImages, EightBitOnesMatchLibtiffsOwnWholeImageRead) {
  TIFFSetWarningHandler(nullptr);
  int compared = 0, partlyTransparent = 0;
  for (const std::string& name : FolderFiles()) {
    if (kRefused.count(name)) continue;
    const std::string path = kFolder + "/" + name;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    ASSERT_TRUE(tif) << name;
    uint16_t bits = 0, orientation = ORIENTATION_TOPLEFT;
    uint32_t width = 0, height = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    if (bits != 8) continue;
    std::vector<uint32_t> raster(size_t{width} * height);
    // In the order stored, as the tool decodes.
    ASSERT_TRUE(TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), orientation, 1)) << name;
    const gm::Image image = gm::io::DecodeFile(path, {gm::io::DecodeLimits{}, {}});
    ASSERT_EQ(image.width, static_cast<int32_t>(width)) << name;
    ASSERT_EQ(image.height, static_cast<int32_t>(height)) << name;
    ++compared;
    bool seenPartial = false;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t want = raster[size_t{y} * width + x];
        const uint8_t* got = image.At(static_cast<int32_t>(x), static_cast<int32_t>(y));
        const unsigned a = image.channels == 4 ? got[3] : 255;
        ASSERT_EQ(a, TIFFGetA(want)) << name << " at " << x << "," << y;
        seenPartial |= a > 0 && a < 255;
        const unsigned premultiplied[3] = {TIFFGetR(want), TIFFGetG(want), TIFFGetB(want)};
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ((got[c] * a + 127) / 255, premultiplied[c]) << name << " at " << x << "," << y << " channel " << c;
        }
      }
    }
    partlyTransparent += seenPartial;
  }
  EXPECT_GE(compared, 10);
  EXPECT_GE(partlyTransparent, 2);  // associated alpha is really looked at
}

}  // namespace
