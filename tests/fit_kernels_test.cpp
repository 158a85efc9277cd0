// Every kernel variant against the plain algorithm, byte for byte, on the
// inputs where a fast path is most likely to go wrong: odd sizes, padded and
// upside-down strides, glyph-exact cells, ties, colours next to the threshold
// and real photos.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fit/FitGlyphs.h"
#include "fit/FitPlain.h"
#include "fit/Kernels.h"
#include "text/TextArt.h"

namespace {

constexpr int kCellBytes = kGlyphWidth * 3;

// An image of rows of 3·width bytes with `padding` bytes after each, all
// filled with noise so that a stray write anywhere shows.
struct Buffer {
  uint32_t width = 0, height = 0;
  int32_t stride = 0;
  std::vector<uint8_t> bytes;

  Buffer(uint32_t w, uint32_t h, uint32_t padding, std::mt19937& rng)
      : width(w), height(h), stride(static_cast<int32_t>(3 * w + padding)), bytes(size_t{h} * stride) {
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  }
  uint8_t* Pixel(uint32_t x, uint32_t y) { return bytes.data() + size_t{y} * stride + 3 * x; }
};

void Paint(uint8_t* p, bool light, std::mt19937& rng) {
  // Colours a few steps either side of 3R + 6G + B = 1280.
  static const uint8_t kLight[][3] = {{128, 128, 128}, {0, 214, 0}, {255, 255, 255}, {86, 170, 2}, {0, 255, 255}};
  static const uint8_t kDark[][3] = {{127, 127, 127}, {0, 213, 0}, {0, 0, 0}, {255, 0, 255}, {86, 170, 1}};
  const uint8_t* c = light ? kLight[rng() % 5] : kDark[rng() % 5];
  std::memcpy(p, c, 3);
}

// Fills the pixels with one of several kinds of content.
void Fill(Buffer& image, int kind, std::mt19937& rng) {
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x) {
      uint8_t* p = image.Pixel(x, y);
      switch (kind) {
        case 0:  // noise
          break;
        case 1:  // each cell is a random glyph, in colours near the threshold
        {
          std::mt19937 cellRng(static_cast<uint32_t>((y / kGlyphHeight) * 7919 + x / kGlyphWidth));
          const int g = static_cast<int>(cellRng() % kGlyphCount);
          Paint(p, (GlyphTable[g][y % kGlyphHeight] >> (x % kGlyphWidth)) & 1, rng);
          break;
        }
        default:  // blocks of one level, as in flat areas of a photo
          Paint(p, ((x / 5) ^ (y / 7)) % 3 == 0, rng);
          break;
      }
    }
}

// Runs a kernel (the plain one when none) over the buffer.
void Fit(Buffer& image, const FitKernel* kernel = nullptr) {
  (kernel ? kernel->fit : FitGlyphsPlain)(image.bytes.data(), image.width, image.height, image.stride);
}

// The first byte where two buffers differ, as a readable position.
std::string FirstDifference(const Buffer& got, const Buffer& want) {
  for (size_t i = 0; i < got.bytes.size(); ++i) {
    if (got.bytes[i] != want.bytes[i]) {
      const size_t row = i / want.stride, col = i % want.stride;
      return "row " + std::to_string(row) + " byte " + std::to_string(col) + ": " + std::to_string(got.bytes[i]) +
             " instead of " + std::to_string(want.bytes[i]);
    }
  }
  return "";
}

class KernelVariant : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    for (const FitKernel& k : FitKernels())
      if (std::strcmp(k.name, GetParam()) == 0) kernel_ = &k;
    if (!kernel_->supported()) GTEST_SKIP() << GetParam() << " is not supported by this processor";
  }

  void ExpectSameAsPlain(const Buffer& input, const std::string& what) {
    Buffer want = input, got = input;
    Fit(want);
    Fit(got, kernel_);
    const std::string diff = FirstDifference(got, want);
    EXPECT_EQ(diff, "") << what;
    for (uint32_t y = 0; y < input.height; ++y) {
      const size_t end = size_t{y} * input.stride + input.stride, pixels = size_t{y} * input.stride + 3 * input.width;
      ASSERT_TRUE(std::equal(got.bytes.begin() + pixels, got.bytes.begin() + end, input.bytes.begin() + pixels))
          << what << ": padding of row " << y << " changed";
    }
  }

  const FitKernel* kernel_ = nullptr;
};

TEST_P(KernelVariant, EverySizeUpTo40MatchesPlainAndLeavesPaddingAlone) {
  std::mt19937 rng(12345);
  for (uint32_t h = 0; h <= 40; ++h)
    for (uint32_t w = 0; w <= 40; ++w) {
      Buffer image(w, h, rng() % 13, rng);
      Fill(image, static_cast<int>((w + h) % 3), rng);
      ExpectSameAsPlain(image, std::to_string(w) + " x " + std::to_string(h));
      if (HasFailure()) return;
    }
}

TEST_P(KernelVariant, WideRowsCrossEveryChunkBoundary) {
  std::mt19937 rng(777);
  for (uint32_t w : {511u, 512u, 513u, 1023u, 1031u, 2000u}) {
    for (int kind = 0; kind < 3; ++kind) {
      Buffer image(w, 25, 5, rng);
      Fill(image, kind, rng);
      ExpectSameAsPlain(image, "width " + std::to_string(w) + " kind " + std::to_string(kind));
    }
  }
}

TEST_P(KernelVariant, NegativeStrideWalksRowsUpward) {
  std::mt19937 rng(99);
  const uint32_t w = 37, h = 29;
  const int32_t stride = 3 * w + 3;
  std::vector<uint8_t> bytes(size_t{h} * stride);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> want = bytes;
  uint8_t* const lastRow = bytes.data() + size_t{h - 1} * stride;
  FitGlyphsPlain(want.data() + size_t{h - 1} * stride, w, h, -stride);
  kernel_->fit(lastRow, w, h, -stride);
  EXPECT_EQ(bytes, want);
}

TEST_P(KernelVariant, EveryGlyphPatternIsDrawnAsItself) {
  // All 95 glyphs side by side in one band, in colours near the threshold.
  std::mt19937 rng(5);
  Buffer image(kGlyphWidth * kGlyphCount, kGlyphHeight, 0, rng);
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x)
      Paint(image.Pixel(x, y), (GlyphTable[x / kGlyphWidth][y] >> (x % kGlyphWidth)) & 1, rng);
  Fit(image, kernel_);
  gm::Image drawn(static_cast<int32_t>(image.width), kGlyphHeight, 3);
  std::copy(image.bytes.begin(), image.bytes.end(), drawn.pixels.begin());
  std::string all;
  for (int g = 0; g < kGlyphCount; ++g) all += static_cast<char>(kFirstGlyphCode + g);
  EXPECT_EQ(gm::text::ReadDrawnText(drawn, VRect{0, 0, kGlyphHeight, drawn.width}), all + "\n");
}

// Cells whose best score is shared by two or more glyphs, found by scoring
// unions and intersections of glyph patterns with the plain kernel.
std::vector<std::vector<uint8_t>> TiedCells() {
  std::vector<std::vector<uint8_t>> cells;
  std::mt19937 rng(2024);
  for (int attempt = 0; attempt < 20000 && cells.size() < 300; ++attempt) {
    const int a = static_cast<int>(rng() % kGlyphCount), b = static_cast<int>(rng() % kGlyphCount);
    const unsigned op = rng() % 3;
    std::vector<uint8_t> cell(kCellBytes * kGlyphHeight);
    for (int i = 0; i < kGlyphHeight; ++i) {
      const unsigned ra = GlyphTable[a][i], rb = GlyphTable[b][i];
      const unsigned row = op == 0 ? (ra | rb) : op == 1 ? (ra & rb) : (ra ^ (rb & (rng() & 0xFF)));
      for (int j = 0; j < kGlyphWidth; ++j) std::memset(&cell[i * kCellBytes + 3 * j], (row >> j) & 1 ? 255 : 0, 3);
    }
    int32_t scores[kGlyphCount];
    ScoreCell(cell.data(), kCellBytes, scores);
    const int32_t top = scores[PickBestGlyph(scores)];
    if (std::count(scores, scores + kGlyphCount, top) >= 2) cells.push_back(cell);
  }
  return cells;
}

TEST_P(KernelVariant, TiesGoToTheLowestGlyphAsInPlain) {
  const auto cells = TiedCells();
  ASSERT_GE(cells.size(), 100u);
  // Side by side in one band so that every cell is scored on its own.
  std::mt19937 rng(1);
  Buffer image(kGlyphWidth * static_cast<uint32_t>(cells.size()), kGlyphHeight, 7, rng);
  for (size_t c = 0; c < cells.size(); ++c)
    for (int i = 0; i < kGlyphHeight; ++i) std::memcpy(image.Pixel(c * kGlyphWidth, i), &cells[c][i * kCellBytes], kCellBytes);
  ExpectSameAsPlain(image, "tied cells");
}

// The 16,777,216 colours, in rows of 4,096 pixels, through blocks of 11
// rows: too low for a cell, so each variant only thresholds them.
TEST_P(KernelVariant, EveryColourThresholdsAsPlain) {
  constexpr uint32_t kWidth = 4096, kRows = 4096, kBlock = 11;
  std::vector<uint8_t> want(size_t{kWidth} * kRows * 3);
  for (uint32_t c = 0; c < kWidth * kRows; ++c) {
    want[3 * size_t{c}] = static_cast<uint8_t>(c >> 16);
    want[3 * size_t{c} + 1] = static_cast<uint8_t>(c >> 8);
    want[3 * size_t{c} + 2] = static_cast<uint8_t>(c);
  }
  std::vector<uint8_t> got = want;
  ThresholdPixels(want.data(), kWidth, kRows, 3 * kWidth);
  for (uint32_t y = 0; y < kRows; y += kBlock)
    kernel_->fit(got.data() + size_t{y} * kWidth * 3, kWidth, std::min(kBlock, kRows - y), 3 * kWidth);
  const auto mismatch = std::mismatch(got.begin(), got.end(), want.begin());
  ASSERT_TRUE(mismatch.first == got.end())
      << "colour " << (mismatch.first - got.begin()) / 3 << ": " << int(*mismatch.first) << " instead of "
      << int(*mismatch.second);
}

bool LoadPng(const std::string& path, std::vector<uint8_t>& rgb, uint32_t& width, uint32_t& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
  width = image.width;
  height = image.height;
  return true;
}

TEST_P(KernelVariant, SamplePhotosMatchPlain) {
  for (const char* name : {"astronaut.png", "coffee.png"}) {
    std::vector<uint8_t> rgb;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(LoadPng(std::string(GM_SAMPLES_DIR) + "/" + name, rgb, w, h)) << name;
    std::mt19937 rng(3);
    // Odd sizes cut from the photo leave both remainder strips.
    for (uint32_t cut : {0u, 5u}) {
      Buffer image(w - cut, h - cut, 4 * cut, rng);
      for (uint32_t y = 0; y < image.height; ++y) std::memcpy(image.Pixel(0, y), &rgb[size_t{y} * w * 3], 3 * size_t{image.width});
      ExpectSameAsPlain(image, name);
    }
  }
}

// Every variant built into this binary, so that a new one is tested without
// being named here.
std::vector<const char*> Variants() {
  std::vector<const char*> names;
  for (const FitKernel& k : FitKernels())
    if (std::strcmp(k.name, "plain") != 0) names.push_back(k.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Fit, KernelVariant, testing::ValuesIn(Variants()),
                         [](const auto& info) { return std::string(info.param); });

TEST(KernelDispatch, NamesAreUniqueAndPlainComesFirst) {
  const auto kernels = FitKernels();
  ASSERT_GE(kernels.size(), 2u);
  EXPECT_STREQ(kernels[0].name, "plain");
  EXPECT_STREQ(kernels[1].name, "generic");
  for (size_t a = 0; a < kernels.size(); ++a)
    for (size_t b = a + 1; b < kernels.size(); ++b) EXPECT_STRNE(kernels[a].name, kernels[b].name);
}

TEST(KernelDispatch, PicksTheRequestedOrTheBestSupported) {
  const auto kernels = FitKernels();
  const FitKernel* best = nullptr;
  for (const FitKernel& k : kernels)
    if (k.supported()) best = &k;
  ASSERT_NE(best, nullptr);
  struct Case {
    const char* requested;
    const FitKernel* expected;
  };
  std::vector<Case> cases = {{nullptr, best}, {"", best}, {"fastest", best}, {"AVX2", best}, {"plain", &kernels[0]}};
  for (const FitKernel& k : kernels) cases.push_back({k.name, k.supported() ? &k : best});
  for (const Case& c : cases)
    EXPECT_EQ(&PickFitKernel(c.requested), c.expected) << (c.requested ? c.requested : "(unset)");
}

// A build whose vector variants went missing (the processor family not
// recognised) would still pass every other test here, on generic alone.
TEST(KernelDispatch, TheProcessorsBaselineVariantIsBuilt) {
#if defined(__aarch64__)
  const char* baseline = "neon";
#elif defined(__x86_64__)
  const char* baseline = "sse2";
#else
  GTEST_SKIP() << "no vector variant for this processor";
#endif
  EXPECT_STREQ(PickFitKernel(baseline).name, baseline);
}

TEST(KernelDispatch, TheChoiceFollowsTheEnvironment) {
  EXPECT_EQ(&ChosenFitKernel(), &PickFitKernel(std::getenv("GLYPHMOSAIC_KERNEL")));
  EXPECT_TRUE(ChosenFitKernel().supported());
}

TEST(KernelDispatch, FitGlyphsRunsTheChosenVariant) {
  std::mt19937 rng(8);
  Buffer image(45, 31, 2, rng);
  Fill(image, 1, rng);
  Buffer want = image;
  Fit(want);
  FitGlyphs(image.bytes.data(), image.width, image.height, image.stride);
  EXPECT_EQ(FirstDifference(image, want), "") << ChosenFitKernel().name;
}

}  // namespace
