// The plain kernel and the glyph table, checked against the filter's rules
// as stated for people: threshold, scores, tie-breaks and in-place drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fit/FitPlain.h"
#include "text/TextArt.h"

namespace {

constexpr int kCellBytes = kGlyphWidth * 3;

int SetBits(int glyph) {
  int n = 0;
  for (int i = 0; i < kGlyphHeight; ++i) n += std::popcount(static_cast<unsigned>(GlyphTable[glyph][i]));
  return n;
}

// One cell (8 x 12 pixels, stride 24) whose light pixels are the set bits of `rows`.
std::vector<uint8_t> CellFromRows(const uint8_t rows[kGlyphHeight], uint8_t light = 255) {
  std::vector<uint8_t> cell(kCellBytes * kGlyphHeight, 0);
  for (int i = 0; i < kGlyphHeight; ++i)
    for (int j = 0; j < kGlyphWidth; ++j)
      if (rows[i] & (1u << j)) std::memset(&cell[i * kCellBytes + 3 * j], light, 3);
  return cell;
}

int FitOneCell(std::vector<uint8_t>& cell, int32_t* bestScore = nullptr) {
  int32_t scores[kGlyphCount];
  ThresholdPixels(cell.data(), kGlyphWidth, kGlyphHeight, kCellBytes);
  ScoreCell(cell.data(), kCellBytes, scores);
  const int best = PickBestGlyph(scores);
  if (bestScore) *bestScore = scores[best];
  FitGlyphsPlain(cell.data(), kGlyphWidth, kGlyphHeight, kCellBytes);
  return best;
}

// The glyph whose pattern a drawn cell holds, as the tool reads it, or -1.
int DrawnGlyph(const std::vector<uint8_t>& cell) {
  gm::Image image(kGlyphWidth, kGlyphHeight, 3);
  std::copy(cell.begin(), cell.end(), image.pixels.begin());
  const auto c = gm::text::ReadCell(image, 0, 0);
  return c ? *c - kFirstGlyphCode : -1;
}

TEST(GlyphTable, TranscriptionChecks) {
  int total = 0;
  int maxBits = 0;
  std::vector<int> widest;
  int bit7Bytes = 0;
  std::set<std::string> distinct;
  for (int g = 0; g < kGlyphCount; ++g) {
    total += SetBits(g);
    if (SetBits(g) > maxBits) {
      maxBits = SetBits(g);
      widest.clear();
    }
    if (SetBits(g) == maxBits) widest.push_back(g);
    for (int i = 0; i < kGlyphHeight; ++i) bit7Bytes += (GlyphTable[g][i] & 0x80) != 0;
    distinct.insert(std::string(GlyphTable[g], GlyphTable[g] + kGlyphHeight));
  }
  EXPECT_EQ(total, 2476);
  EXPECT_EQ(maxBits, 45);
  EXPECT_EQ(widest, (std::vector<int>{16, 45, 46}));
  EXPECT_EQ(bit7Bytes, 3);
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kGlyphCount));
  EXPECT_EQ(SetBits(0), 0);
  EXPECT_EQ(GlyphTable[10][5], 0xFF);  // '*'
  EXPECT_EQ(GlyphTable[63][10], 0xFF); // '_'
  EXPECT_EQ(GlyphTable[94][1], 0xCE);  // '~'
}

TEST(GlyphTable, SlashAndBackslashMirrorWithBitZeroLeftmost) {
  // '/' climbs to the right: column 6 in row 2, column 0 in row 9.
  EXPECT_EQ(GlyphTable[15][2], 1 << 6);
  EXPECT_EQ(GlyphTable[15][9], 1 << 0);
  for (int i = 0; i < kGlyphHeight; ++i) {
    uint8_t mirrored = 0;
    for (int j = 0; j < 7; ++j)
      if (GlyphTable[15][i] & (1 << j)) mirrored |= 1 << (6 - j);
    EXPECT_EQ(GlyphTable[60][i], mirrored) << "row " << i;
  }
}

struct ThresholdCase {
  uint8_t r, g, b, expected;
};

TEST(Threshold, SingleColours) {
  const ThresholdCase cases[] = {
      {0, 0, 0, 0},         {255, 255, 255, 255}, {127, 127, 127, 0}, {128, 128, 128, 255},
      {255, 0, 0, 0},       {0, 255, 0, 255},     {0, 0, 255, 0},     {0, 213, 0, 0},
      {0, 214, 0, 255},     {255, 255, 0, 255},   {255, 0, 255, 0},   {0, 255, 255, 255},
  };
  for (const auto& c : cases) {
    uint8_t px[3] = {c.r, c.g, c.b};
    ThresholdPixels(px, 1, 1, 3);
    EXPECT_EQ(px[0], c.expected) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    EXPECT_TRUE(px[0] == px[1] && px[1] == px[2]);
  }
}

TEST(Threshold, AllColoursMatchTheIntegerRule) {
  // Every colour once, 4096 to a row, so the check is one kernel call.
  constexpr uint32_t kWidth = 4096, kHeight = 4096;
  std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * 3);
  for (uint32_t c = 0; c < kWidth * kHeight; ++c) {
    pixels[3 * size_t{c}] = c >> 16;
    pixels[3 * size_t{c} + 1] = (c >> 8) & 0xFF;
    pixels[3 * size_t{c} + 2] = c & 0xFF;
  }
  ThresholdPixels(pixels.data(), kWidth, kHeight, kWidth * 3);
  uint32_t wrong = 0;
  for (uint32_t c = 0; c < kWidth * kHeight; ++c) {
    const uint32_t r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
    const uint8_t expected = 3 * r + 6 * g + b >= 1280 ? 255 : 0;
    const uint8_t* p = &pixels[3 * size_t{c}];
    wrong += p[0] != expected || p[1] != expected || p[2] != expected;
  }
  EXPECT_EQ(wrong, 0u);
}

struct CellCase {
  const char* name;
  uint8_t rows[kGlyphHeight];
  int glyph;
  int32_t score;
};

TEST(Cell, FixedResultsAndTieBreaks) {
  const CellCase cases[] = {
      {"dark", {0}, 0, 96},
      {"light", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 16, 90},
      {"row 5", {0, 0, 0, 0, 0, 0xFF}, 13, 102},
      {"columns 3 and 4", {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18}, 92, 104},
      {"top half", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 45, 90},
      {"column 2", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 41, 89},
      {"row 0", {0xFF}, 0, 88},
  };
  for (const auto& c : cases) {
    auto cell = CellFromRows(c.rows);
    int32_t score = 0;
    EXPECT_EQ(FitOneCell(cell, &score), c.glyph) << c.name;
    EXPECT_EQ(score, c.score) << c.name;
    EXPECT_EQ(DrawnGlyph(cell), c.glyph) << c.name;
  }
}

TEST(Cell, TiesGoToTheLowerEntry) {
  uint8_t light[kGlyphHeight];
  std::fill(std::begin(light), std::end(light), 0xFF);
  auto cell = CellFromRows(light);
  int32_t scores[kGlyphCount];
  ScoreCell(cell.data(), kCellBytes, scores);
  EXPECT_EQ(scores[16], 90);
  EXPECT_EQ(scores[45], 90);
  EXPECT_EQ(scores[46], 90);
  EXPECT_EQ(PickBestGlyph(scores), 16);

  int32_t zeros[kGlyphCount] = {};
  EXPECT_EQ(PickBestGlyph(zeros), 0);
}

TEST(Cell, EachGlyphPatternIsRedrawnAsThatGlyph) {
  for (int g = 0; g < kGlyphCount; ++g) {
    auto cell = CellFromRows(GlyphTable[g]);
    int32_t scores[kGlyphCount];
    ScoreCell(cell.data(), kCellBytes, scores);
    EXPECT_EQ(scores[g], 96 + SetBits(g)) << g;
    for (int other = 0; other < kGlyphCount; ++other) {
      if (other != g) {
        EXPECT_LT(scores[other], scores[g]) << g << " vs " << other;
      }
    }
    FitGlyphsPlain(cell.data(), kGlyphWidth, kGlyphHeight, kCellBytes);
    EXPECT_EQ(DrawnGlyph(cell), g);
  }
}

TEST(Cell, OneLightPixelAnywhereIsSpace) {
  for (int i = 0; i < kGlyphHeight; ++i)
    for (int j = 0; j < kGlyphWidth; ++j) {
      uint8_t rows[kGlyphHeight] = {};
      rows[i] = static_cast<uint8_t>(1 << j);
      auto cell = CellFromRows(rows);
      int32_t score = 0;
      EXPECT_EQ(FitOneCell(cell, &score), 0) << i << "," << j;
      EXPECT_EQ(score, 95);
    }
}

// A random buffer with a padded stride, the padding filled with a marker.
struct Buffer {
  uint32_t width, height;
  int32_t stride;
  std::vector<uint8_t> bytes;
  Buffer(uint32_t w, uint32_t h, int32_t padding, std::mt19937& rng)
      : width(w), height(h), stride(static_cast<int32_t>(3 * w) + padding), bytes(size_t(stride) * h) {
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  }
  uint8_t* Pixel(uint32_t x, uint32_t y) { return &bytes[size_t(y) * stride + 3 * x]; }
};

TEST(Kernel, RemainderStripsStayThresholdedAndPaddingUntouched) {
  std::mt19937 rng(7);
  Buffer buf(20, 30, 5, rng);
  const auto before = buf.bytes;
  FitGlyphsPlain(buf.bytes.data(), 20, 30, buf.stride);
  for (uint32_t y = 0; y < buf.height; ++y) {
    for (uint32_t x = 0; x < buf.width; ++x) {
      const uint8_t* p = buf.Pixel(x, y);
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]);
      const bool drawn = x < 16 && y < 24;
      if (drawn) {
        EXPECT_TRUE(p[0] == 0 || p[0] == 192) << x << "," << y;
      } else {
        EXPECT_TRUE(p[0] == 0 || p[0] == 255) << x << "," << y;
      }
    }
    for (int32_t i = 60; i < buf.stride; ++i)
      EXPECT_EQ(buf.bytes[size_t(y) * buf.stride + i], before[size_t(y) * buf.stride + i]);
  }
}

TEST(Kernel, SmallAndEmptyRectangles) {
  struct Case {
    uint32_t w, h;
    bool changes;
  };
  const Case cases[] = {{0, 0, false}, {0, 12, false}, {8, 0, false}, {7, 12, true}, {8, 11, true}, {1, 1, true}};
  std::mt19937 rng(11);
  for (const auto& c : cases) {
    Buffer buf(c.w, c.h, 3, rng);
    auto expected = buf.bytes;
    ThresholdPixels(expected.data(), c.w, c.h, buf.stride);
    const auto before = buf.bytes;
    FitGlyphsPlain(buf.bytes.data(), c.w, c.h, buf.stride);
    EXPECT_EQ(buf.bytes, c.changes ? expected : before) << c.w << "x" << c.h;
  }
}

TEST(Kernel, SecondRunChangesNothingAndOnlyThreeLevelsRemain) {
  std::mt19937 rng(3);
  Buffer buf(37, 41, 0, rng);
  FitGlyphsPlain(buf.bytes.data(), 37, 41, buf.stride);
  const auto once = buf.bytes;
  FitGlyphsPlain(buf.bytes.data(), 37, 41, buf.stride);
  EXPECT_EQ(buf.bytes, once);
  for (uint32_t y = 0; y < buf.height; ++y)
    for (uint32_t x = 0; x < buf.width; ++x) {
      const uint8_t v = buf.Pixel(x, y)[0];
      EXPECT_TRUE(v == 0 || v == 192 || (v == 255 && (x >= 32 || y >= 36))) << x << "," << y;
    }
}

TEST(Kernel, CellOrderDoesNotMatter) {
  // Fitting each cell alone (after one threshold pass) gives the same bytes
  // as one call: cells read only their own pixels.
  std::mt19937 rng(5);
  Buffer whole(40, 36, 2, rng);
  Buffer pieces = whole;
  FitGlyphsPlain(whole.bytes.data(), 40, 36, whole.stride);
  ThresholdPixels(pieces.bytes.data(), 40, 36, pieces.stride);
  for (int m = 2; m >= 0; --m)
    for (int n = 4; n >= 0; --n) FitGlyphsPlain(pieces.Pixel(8 * n, 12 * m), 8, 12, pieces.stride);
  EXPECT_EQ(whole.bytes, pieces.bytes);
}

}  // namespace
