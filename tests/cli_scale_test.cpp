// Scaling while decoding: PNG and TIFF rows stream into the area averager and
// must give exactly what averaging the full decode gives; JPEG shrinks on
// load and must stay close to it.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "io/Formats.h"
#include "io/Scale.h"
#include "cli_files.h"

namespace {

using clitest::TempDir;
using gm::Image;
using gm::io::DecodeFile;
using gm::io::DecodeLimits;
using gm::io::ScaleRequest;

std::vector<uint16_t> Samples(const Image& image) { return {image.pixels.begin(), image.pixels.end()}; }

void WriteRgbPng(const std::string& path, const Image& image, bool interlaced) {
  clitest::PngSpec s;
  s.width = image.width;
  s.height = image.height;
  s.colourType = image.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  s.interlaced = interlaced;
  s.samples = Samples(image);
  clitest::WritePng(path, s);
}

struct Layout {
  const char* name;
  std::function<void(const std::string&, const Image&)> write;
};

TEST(ScaledDecode, PngAndTiffEqualAveragingTheFullDecode) {
  auto tiff = [](bool tiled, bool separate, int depth) {
    return [=](const std::string& path, const Image& image) {
      clitest::TiffSpec s;
      s.width = image.width;
      s.height = image.height;
      s.samples = image.channels;
      s.alpha = image.channels == 4;
      s.tiled = tiled;
      s.separate = separate;
      s.depth = depth;
      s.data = Samples(image);
      if (depth == 16) {
        for (auto& v : s.data) v = static_cast<uint16_t>(v * 257);
      }
      clitest::WriteTiff(path, s);
    };
  };
  const Layout layouts[] = {
      {"png", [](const std::string& p, const Image& i) { WriteRgbPng(p, i, false); }},
      {"interlacedPng", [](const std::string& p, const Image& i) { WriteRgbPng(p, i, true); }},
      {"tiffStrips", tiff(false, false, 8)},
      {"tiffTiles", tiff(true, false, 8)},
      {"tiffPlanes", tiff(false, true, 8)},
      {"tiff16Converted", tiff(false, false, 16)},
  };
  // Down by odd factors both ways, up, and counted along the height.
  const ScaleRequest requests[] = {{40, false}, {23, false}, {150, false}, {31, true}};
  TempDir dir;
  for (const Layout& layout : layouts) {
    for (int channels : {3, 4}) {
      const std::string path = dir / (std::string(layout.name) + ".img");
      layout.write(path, clitest::Picture(97, 61, channels, 4));
      const Image full = DecodeFile(path, {DecodeLimits{}, {}});
      for (const ScaleRequest& request : requests) {
        const Image scaled = DecodeFile(path, {DecodeLimits{}, {}, request});
        const gm::io::Size size = *request.Resolve(97, 61);
        ASSERT_EQ(request.alongHeight ? scaled.height : scaled.width, request.width) << layout.name;
        ASSERT_EQ(scaled.channels, channels) << layout.name;
        EXPECT_EQ(scaled.pixels, gm::io::AreaScale(full, size).pixels)
            << layout.name << " " << channels << " channels to " << size.width << "x" << size.height;
      }
    }
  }
}

// A size from /proc/self/status in KiB: VmRSS now, VmHWM the peak since
// the last reset, which writing 5 to clear_refs makes.
long StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

// Scaled, a PNG or TIFF is never held at full size: 2400 x 1600 RGB is
// 11 MiB decoded, an 80-pixel-wide result and a band of rows far less.
TEST(ScaledDecode, HoldsOnlyTheScaledImageAndABandOfRows) {
  TempDir dir;
  const Image picture = clitest::Picture(2400, 1600, 3, 8);
  WriteRgbPng(dir / "big.png", picture, false);
  clitest::TiffSpec s;
  s.width = picture.width;
  s.height = picture.height;
  s.data = Samples(picture);
  clitest::WriteTiff(dir / "big.tif", s);
  s.tiled = true;
  clitest::WriteTiff(dir / "tiles.tif", s);
  for (const char* name : {"big.png", "big.tif", "tiles.tif"}) {
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKiB("VmRSS");
    const Image scaled = DecodeFile(dir / name, {DecodeLimits{}, {}, ScaleRequest{80, false}});
    ASSERT_EQ(scaled.width, 80);
    const long added = StatusKiB("VmHWM") - before;
    EXPECT_LT(added, 4 * 1024) << name << ": the peak rose by " << added << " KiB";
  }
}

// The memory limit counts what is held: the scaled image when the rows
// stream, the full one when the decoder needs it whole.
TEST(ScaledDecode, MemoryLimitCountsWhatIsHeld) {
  TempDir dir;
  const Image picture = clitest::Picture(600, 400, 3, 6);  // 720,000 bytes decoded
  WriteRgbPng(dir / "plain.png", picture, false);
  WriteRgbPng(dir / "interlaced.png", picture, true);
  const struct {
    const char* file;
    int32_t width;
    bool decodes;
  } cases[] = {
      {"plain.png", 0, false}, {"plain.png", 80, true}, {"interlaced.png", 80, false}, {"interlaced.png", 0, false}};
  DecodeLimits limits;
  limits.maxBytes = 500'000;
  for (const auto& c : cases) {
    bool decoded = true;
    try {
      DecodeFile(dir / c.file, {limits, {}, ScaleRequest{c.width, false}});
    } catch (const gm::io::Error& failure) {
      decoded = false;
      EXPECT_NE(std::string(failure.what()).find("memory limit"), std::string::npos) << failure.what();
    }
    EXPECT_EQ(decoded, c.decodes) << c.file << " at width " << c.width;
  }
}

// Shrinking on load (the JPEG library's DCT scaling, then averaging) against
// decoding at full size and averaging: the sample photos at quality 90.
TEST(ScaledDecode, JpegShrinkOnLoadStaysCloseToTheFullSizeDecode) {
  TempDir dir;
  double sum = 0;
  uint64_t count = 0;
  int largest = 0;
  for (const char* sample : {"coffee.png", "astronaut.png"}) {
    const Image photo = DecodeFile(std::string(GM_SOURCE_DIR) + "/samples/" + sample, {DecodeLimits{}, {}});
    const std::string path = dir / "photo.jpg";
    clitest::WriteJpeg(path, photo.width, photo.height, 3, {photo.pixels.begin(), photo.pixels.end()}, false, 90);
    const Image full = DecodeFile(path, {DecodeLimits{}, {}});
    for (int32_t width : {40, 80, 160, 240, 320}) {
      const ScaleRequest request{width, false};
      const Image shrunk = DecodeFile(path, {DecodeLimits{}, {}, request});
      const Image reference = gm::io::AreaScale(full, *request.Resolve(photo.width, photo.height));
      ASSERT_EQ(shrunk.width, reference.width);
      ASSERT_EQ(shrunk.height, reference.height);
      int caseLargest = 0;
      double caseSum = 0;
      for (size_t i = 0; i < shrunk.pixels.size(); ++i) {
        const int d = std::abs(shrunk.pixels[i] - reference.pixels[i]);
        caseSum += d;
        caseLargest = std::max(caseLargest, d);
      }
      std::printf("%s to %d wide: mean %.2f, largest %d levels\n", sample, width,
                  caseSum / static_cast<double>(shrunk.pixels.size()), caseLargest);
      sum += caseSum;
      largest = std::max(largest, caseLargest);
      count += shrunk.pixels.size();
    }
  }
  const double mean = sum / static_cast<double>(count);
  std::printf("shrink on load against the full-size decode: mean %.2f, largest %d levels\n", mean, largest);
  // The figures the README gives, with a little room; a decode at full size
  // would agree exactly.
  EXPECT_GT(mean, 0.5);
  EXPECT_LT(mean, 2.0);
  EXPECT_LE(largest, 64);
}

}  // namespace
