// libwebp's own test files, lossy and lossless, alpha in every filter and
// compression method, and awkward ones on purpose: each decodes to exactly
// what libwebp's own decoder makes of it, or is refused with one line.
#include <gtest/gtest.h>
#include <webp/decode.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/Formats.h"
#include "cli_files.h"

namespace {

const std::string kFolder = std::string(GM_SOURCE_DIR) + "/tests/data/libwebp";

// Files the tool must refuse, with a part of the reason.
const std::map<std::string, std::string> kRefused = {
    {"LICENSE", "or JPEG XL image"},
    {"NOTICE.md", "or JPEG XL image"},
    {"libwebp_tests.md5", "or JPEG XL image"},
};

TEST(LibwebpImages, EachDecodesAsLibwebpDoesOrFailsWithOneLine) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kFolder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 130u);
  clitest::TempDir dir;
  int compared = 0;
  for (const std::string& name : names) {
    const std::string path = kFolder + "/" + name;
    const auto refused = kRefused.find(name);
    if (refused != kRefused.end()) {
      clitest::ExpectOneLineFailure(clitest::RunGlyphmosaic({"-q", path, dir / "out.png"}), 2, refused->second);
      continue;
    }
    const auto run = clitest::RunGlyphmosaic({"-q", path, dir / "out.png"});
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
    EXPECT_EQ(run.err, "") << name;
    const std::string bytes = clitest::ReadFile(path);
    int width = 0, height = 0;
    const std::unique_ptr<uint8_t, void (*)(void*)> want(
        WebPDecodeRGBA(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &width, &height), WebPFree);
    ASSERT_TRUE(want) << name << ": libwebp refuses it; list it with the reason the tool gives";
    const gm::Image got = clitest::Decode(path);
    ASSERT_EQ(got.width, width) << name;
    ASSERT_EQ(got.height, height) << name;
    for (size_t i = 0, n = size_t{static_cast<size_t>(width)} * static_cast<size_t>(height); i < n; ++i) {
      const uint8_t* w = want.get() + 4 * i;
      const uint8_t* g = got.pixels.data() + got.channels * i;
      // Without alpha, as libwebp's RGB decode: a lossless file that says it has
      // none may still make some pixels transparent.
      ASSERT_TRUE(std::equal(g, g + got.channels, w)) << name << " pixel " << i;
    }
    ++compared;
  }
  EXPECT_GE(compared, 125);
}

}  // namespace
