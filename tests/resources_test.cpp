#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "resources/PropertyList.h"
#include "tests/PropertyListReference.h"

namespace {

uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

constexpr uint32_t Code(const char (&c)[5]) {
  return static_cast<uint32_t>(c[0]) << 24 | c[1] << 16 | c[2] << 8 | c[3];
}

struct Walked {
  uint32_t offset, vendor, key, length;
  int32_t id;
  std::span<const uint8_t> data;
};

// Reads the records the way a host does; stops at the first one that would
// run past the end so that a bad length shows up as a short list.
std::vector<Walked> Walk(std::span<const uint8_t> list) {
  std::vector<Walked> out;
  size_t at = 10;
  while (at + 16 <= list.size()) {
    Walked w{static_cast<uint32_t>(at), Le32(list, at), Le32(list, at + 4), Le32(list, at + 12),
             static_cast<int32_t>(Le32(list, at + 8)), {}};
    if (at + 16 + w.length > list.size()) break;
    w.data = list.subspan(at + 16, w.length);
    out.push_back(w);
    at += 16 + w.length;
  }
  return out;
}

struct Target {
  bool win64;
  size_t size;
  size_t records;
};

class PropertyList : public ::testing::TestWithParam<Target> {};

TEST_P(PropertyList, BytesEqualTheIndependentEncoding) {
  const auto bytes = PropertyListBytes(GetParam().win64);
  const auto expected = gm::test::ReferencePropertyList(GetParam().win64);
  ASSERT_EQ(bytes.size(), GetParam().size);
  ASSERT_EQ(expected.size(), GetParam().size);
  for (size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], expected[i]) << "byte " << i;
}

TEST_P(PropertyList, HeaderCountMatchesTheRecordsAndTheyFillTheResource) {
  const auto bytes = PropertyListBytes(GetParam().win64);
  EXPECT_EQ(bytes[0] | bytes[1] << 8, 1);
  EXPECT_EQ(Le32(bytes, 2), 0u);
  EXPECT_EQ(Le32(bytes, 6), GetParam().records);
  const auto walked = Walk(bytes);
  ASSERT_EQ(walked.size(), GetParam().records);
  size_t sum = 0;
  for (const auto& w : walked) sum += 16 + w.length;
  EXPECT_EQ(sum, bytes.size() - 10);
}

TEST_P(PropertyList, RecordsSitWhereTheTableSaysWithPaddedLengths) {
  const auto bytes = PropertyListBytes(GetParam().win64);
  const auto walked = Walk(bytes);
  const auto expected = gm::test::ReferenceRecords(GetParam().win64);
  ASSERT_EQ(walked.size(), expected.size());
  for (size_t i = 0; i < walked.size(); ++i) {
    SCOPED_TRACE(expected[i].keyBytes);
    EXPECT_EQ(walked[i].offset, expected[i].offset);
    EXPECT_EQ((walked[i].offset - 10) % 4, 0u);
    EXPECT_EQ(walked[i].length % 4, 0u);
    EXPECT_EQ(walked[i].length, expected[i].length);
    EXPECT_EQ(walked[i].id, 0);
    // Read as bytes the vendor is "MIB8"; as a little-endian number, '8BIM'.
    EXPECT_EQ(std::memcmp(&bytes[walked[i].offset], "MIB8", 4), 0);
    EXPECT_EQ(walked[i].vendor, Code("8BIM"));
  }
}

TEST_P(PropertyList, StringsAlwaysCarryTerminatingPadding) {
  const auto walked = Walk(PropertyListBytes(GetParam().win64));
  struct Case {
    uint32_t key;
    bool pascal;
    std::string text;
  };
  const Case cases[] = {
      {Code("name"), true, "GlyphMosaic"},  // 1 + 11 bytes would fill 12; 16 are stored
      {Code("catg"), true, "OrbFilters"},
      {Code("wx86"), false, "PluginMain"},
      {Code("8664"), false, "PluginMain"},
      {Code("enbl"), false, "in (PSHOP_ImageMode, RGBMode)"},
  };
  for (const auto& c : cases) {
    const Walked* found = nullptr;
    for (const auto& w : walked) {
      if (w.key == c.key) found = &w;
    }
    if (!found) {
      EXPECT_TRUE(c.key == Code("8664") && !GetParam().win64) << c.text;
      continue;
    }
    SCOPED_TRACE(c.text);
    const size_t start = c.pascal ? 1 : 0;
    if (c.pascal) {
      EXPECT_EQ(found->data[0], c.text.size());
    }
    const size_t used = start + c.text.size();
    EXPECT_EQ(found->length, (used + 1 + 3) / 4 * 4);
    EXPECT_EQ(std::string(found->data.begin() + start, found->data.begin() + used), c.text);
    for (size_t i = used; i < found->length; ++i) EXPECT_EQ(found->data[i], 0) << "padding byte " << i;
  }
}

TEST_P(PropertyList, ModeFlagsAndEnableExpressionAdmitOnlyRgb) {
  const auto walked = Walk(PropertyListBytes(GetParam().win64));
  uint32_t mode = 0;
  std::string enable;
  for (const auto& w : walked) {
    if (w.key == Code("mode")) mode = Le32(w.data, 0);
    if (w.key == Code("enbl")) enable = reinterpret_cast<const char*>(w.data.data());
  }
  constexpr uint32_t kRGBColorFlag = 1u << 4;  // bit of image mode 3, RGB colour
  EXPECT_EQ(mode, kRGBColorFlag);
  EXPECT_EQ(enable, "in (PSHOP_ImageMode, RGBMode)");
}

INSTANTIATE_TEST_SUITE_P(Targets, PropertyList,
                         ::testing::Values(Target{false, 274, 9}, Target{true, 302, 10}),
                         [](const auto& info) { return info.param.win64 ? "Win64" : "Win32"; });

TEST(PropertyListTargets, Win64AddsOnlyTheX64EntryPointAfterTheX86One) {
  const auto win32 = PropertyListBytes(false);
  const auto win64 = PropertyListBytes(true);
  ASSERT_EQ(win64.size(), win32.size() + 28);
  // Records before wx86's end, and after the inserted record, are the same bytes.
  EXPECT_TRUE(std::equal(win32.begin() + 10, win32.begin() + 138, win64.begin() + 10));
  EXPECT_TRUE(std::equal(win32.begin() + 138, win32.end(), win64.begin() + 166));
  EXPECT_EQ(std::memcmp(&win64[138], "MIB84668", 8), 0);
  EXPECT_TRUE(std::equal(win64.begin() + 154, win64.begin() + 166, win64.begin() + 126));
}

}  // namespace
