// The tool's own pieces: option parsing, sizes, scaling, text read-back.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "abi/HostTypes.h"
#include "cli/Options.h"
#include "cli/Progress.h"
#include "io/Scale.h"
#include "text/TextArt.h"
#include "io/Units.h"
#include "fit/FitPlain.h"
#include "cli_files.h"

namespace {

using gm::Image;
using gm::cli::Options;

Options Parse(std::vector<std::string> args) { return gm::cli::ParseOptions(args); }

TEST(CliOptions, AcceptsTheDocumentedForms) {
  const Options a = Parse({"--rect", "1,2,30,40", "--tile=64x48", "--columns", "80", "-q", "in.png", "out.tif"});
  EXPECT_EQ(a.input, "in.png");
  EXPECT_EQ(a.output, "out.tif");
  ASSERT_TRUE(a.rect);
  EXPECT_EQ(a.rect->top, 1);
  EXPECT_EQ(a.rect->left, 2);
  EXPECT_EQ(a.rect->bottom, 30);
  EXPECT_EQ(a.rect->right, 40);
  EXPECT_EQ(a.tileWidth, 64);
  EXPECT_EQ(a.tileHeight, 48);
  EXPECT_EQ(a.columns, 80);
  EXPECT_TRUE(a.quiet);

  const Options text = Parse({"--text", "-", "in.jpg"});
  EXPECT_EQ(text.text, "-");
  EXPECT_FALSE(text.output);
  const Options both = Parse({"--text", "art.txt", "--max-memory", "512M", "in.jpg", "out.png"});
  EXPECT_EQ(both.output, "out.png");
  EXPECT_EQ(both.maxMemory, uint64_t{512} << 20);
  EXPECT_TRUE(Parse({"--about"}).about);
  EXPECT_TRUE(Parse({"-h"}).help);
  EXPECT_EQ(Parse({"--", "-odd.png", "out.png"}).input, "-odd.png");

  // INPUT alone prints the art; --text, OUTPUT or --html each take its place.
  const Options alone = Parse({"in.png"});
  EXPECT_TRUE(alone.artToTerminal);
  EXPECT_EQ(alone.text, "-");
  EXPECT_FALSE(Parse({"--text", "-", "in.png"}).artToTerminal);
  EXPECT_FALSE(Parse({"--html", "page.html", "in.png"}).text);
  const Options streams = Parse({"--format=TIF", "--no-rotate", "--color", "--text", "a.txt", "-", "-"});
  EXPECT_EQ(streams.input, "-");
  EXPECT_EQ(streams.output, "-");
  EXPECT_EQ(streams.format, gm::io::CodecNamed("tiff"));
  EXPECT_TRUE(streams.noRotate);
  EXPECT_TRUE(streams.colour);
}

TEST(CliOptions, RefusesWithUsageExitCode) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"a.png", "b.png", "c.png"},
      {"a.png", "-"},
      {"--format", "png", "a.png"},
      {"--format", "bmp", "a.png", "b.png"},
      {"--colour", "a.png", "b.png"},
      {"--text", "-", "--format", "png", "a.png", "-"},
      {"--rect", "1,2,3", "a.png", "b.png"},
      {"--rect", "10,0,5,8", "a.png", "b.png"},
      {"--rect", "-1,0,5,8", "a.png", "b.png"},
      {"--tile", "64", "a.png", "b.png"},
      {"--tile", "0x64", "a.png", "b.png"},
      {"--tile", "40000x64", "a.png", "b.png"},
      {"--columns", "0", "a.png", "b.png"},
      {"--columns", "12abc", "a.png", "b.png"},
      {"--max-memory", "lots", "a.png", "b.png"},
      {"--quality", "101", "a.png", "b.png"},
      {"--frobnicate", "a.png", "b.png"},
      {"--quiet=yes", "a.png", "b.png"},
      {"a.png", "--tile"},
  };
  for (const auto& args : bad) {
    try {
      Parse(args);
      ADD_FAILURE() << "accepted: " << testing::PrintToString(args);
    } catch (const gm::cli::Failure& f) {
      EXPECT_EQ(f.ExitCode(), gm::cli::kExitUsage) << testing::PrintToString(args);
    }
  }
}

TEST(CliUnits, ParsesAndPrintsSizes) {
  const std::pair<const char*, std::optional<uint64_t>> cases[] = {
      {"4096", 4096},          {"4K", 4096},    {"3MiB", 3u << 20},   {"2g", uint64_t{2} << 30},
      {"1TB", uint64_t{1} << 40}, {"", std::nullopt}, {"G", std::nullopt}, {"5Q", std::nullopt},
      {"99999999999999999999", std::nullopt}, {"20000000T", std::nullopt},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(gm::io::ParseBytes(text), want) << text;
  EXPECT_EQ(gm::io::FormatBytes(4ull << 30), "4.0 GiB");
  EXPECT_EQ(gm::io::FormatBytes(100), "100 bytes");
}

TEST(CliProgress, BarFillsInProportion) {
  EXPECT_EQ(gm::cli::ProgressLine("x", 0, 10), "x [          ]   0%");
  EXPECT_EQ(gm::cli::ProgressLine("x", 505, 10), "x [#####     ]  50%");
  EXPECT_EQ(gm::cli::ProgressLine("x", 1000, 10), "x [##########] 100%");
  EXPECT_EQ(gm::cli::ProgressLine("x", 4000, 10), "x [##########] 100%");
}

TEST(CliScale, AspectKeptAndRounded) {
  EXPECT_EQ(gm::io::ScaledSize(600, 400, 300).height, 200);
  EXPECT_EQ(gm::io::ScaledSize(3, 2, 2).height, 1);  // 1.33 rounds down
  EXPECT_EQ(gm::io::ScaledSize(4, 3, 2).height, 2);  // 1.5 rounds up
  EXPECT_EQ(gm::io::ScaledSize(1000, 1, 10).height, 1);  // never zero
}

// Brute-force area average in floating point, per output pixel.
uint8_t AreaMean(const Image& in, int32_t outW, int32_t outH, int32_t ox, int32_t oy, int c) {
  const double sx = static_cast<double>(in.width) / outW, sy = static_cast<double>(in.height) / outH;
  double sum = 0;
  for (int32_t y = 0; y < in.height; ++y) {
    const double wy = std::max(0.0, std::min<double>(y + 1, (oy + 1) * sy) - std::max<double>(y, oy * sy));
    if (wy == 0) continue;
    for (int32_t x = 0; x < in.width; ++x) {
      const double wx = std::max(0.0, std::min<double>(x + 1, (ox + 1) * sx) - std::max<double>(x, ox * sx));
      sum += wx * wy * in.At(x, y)[c];
    }
  }
  return static_cast<uint8_t>(std::lround(sum / (sx * sy)));
}

TEST(CliScale, EveryPixelIsTheMeanOfTheAreaItCovers) {
  const std::tuple<int32_t, int32_t, int32_t, int32_t, int> cases[] = {
      {8, 6, 4, 3, 3}, {10, 7, 3, 2, 4}, {7, 5, 7, 5, 3}, {5, 3, 8, 5, 3}, {33, 17, 8, 4, 4},
  };
  for (const auto& [w, h, ow, oh, ch] : cases) {
    const Image in = clitest::Picture(w, h, ch, 9);
    const Image out = gm::io::AreaScale(in, {ow, oh});
    ASSERT_EQ(out.width, ow);
    ASSERT_EQ(out.height, oh);
    for (int32_t y = 0; y < oh; ++y) {
      for (int32_t x = 0; x < ow; ++x) {
        for (int c = 0; c < ch; ++c) {
          ASSERT_NEAR(out.At(x, y)[c], AreaMean(in, ow, oh, x, y, c), 1)
              << w << "x" << h << " to " << ow << "x" << oh << " at " << x << "," << y;
        }
      }
    }
  }
  // A 2 x 2 box of 0, 1, 1, 1 averages to 0.75 and rounds to 1; exact halves round up.
  Image box(2, 2, 3);
  box.pixels = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(gm::io::AreaScale(box, {1, 1}).pixels[0], 1);
  Image half(2, 1, 3);
  half.pixels = {0, 0, 0, 1, 1, 1};
  EXPECT_EQ(gm::io::AreaScale(half, {1, 1}).pixels[0], 1);
}

TEST(CliTextArt, EveryGlyphReadsBackAsItsCharacter) {
  Image image(kGlyphWidth * kGlyphCount, kGlyphHeight, 3);
  std::string all;
  for (int g = 0; g < kGlyphCount; ++g) {
    DrawGlyph(image.At(g * kGlyphWidth, 0), static_cast<int32_t>(image.RowBytes()), g);
    all += static_cast<char>(kFirstGlyphCode + g);
  }
  EXPECT_EQ(gm::text::ReadDrawnText(image, VRect{0, 0, kGlyphHeight, kGlyphWidth * kGlyphCount}), all + "\n");
}

TEST(CliTextArt, CellsThatAreNoGlyphAreRefused) {
  Image image(kGlyphWidth, kGlyphHeight, 3);
  DrawGlyph(image.pixels.data(), static_cast<int32_t>(image.RowBytes()), 33);  // 'A'
  EXPECT_EQ(gm::text::ReadCell(image, 0, 0), 'A');
  const std::function<void(Image&)> spoilers[] = {
      [](Image& im) { im.At(7, 11)[0] = 192; },   // a stroke no glyph has
      [](Image& im) { im.At(0, 0)[1] = 192; },    // not grey
      [](Image& im) { im.At(3, 3)[0] = im.At(3, 3)[1] = im.At(3, 3)[2] = 255; },  // thresholded, not drawn
  };
  for (const auto& spoil : spoilers) {
    Image copy = image;
    spoil(copy);
    EXPECT_FALSE(gm::text::ReadCell(copy, 0, 0));
    EXPECT_THROW(gm::text::ReadDrawnText(copy, VRect{0, 0, kGlyphHeight, kGlyphWidth}), std::runtime_error);
  }
}

TEST(CliTextArt, TextOfAFilteredAreaFollowsItsCellGrid) {
  // The kernel's own output over an area with remainders on both edges, alpha beside it.
  const VRect area{3, 5, 3 + 37, 5 + 50};  // 6 columns and 3 rows of cells, plus remainders
  const Image image = gm::test::ReferenceResult(clitest::Picture(61, 50, 4, 5), area);
  const std::string text = gm::text::ReadDrawnText(image, area);
  ASSERT_EQ(text.size(), 3u * 7u);
  for (int m = 0; m < 3; ++m) {
    EXPECT_EQ(text[static_cast<size_t>(m) * 7 + 6], '\n');
    for (int n = 0; n < 6; ++n) {
      EXPECT_EQ(gm::text::ReadCell(image, area.left + n * 8, area.top + m * 12), text[static_cast<size_t>(m) * 7 + n]);
    }
  }
}

}  // namespace
