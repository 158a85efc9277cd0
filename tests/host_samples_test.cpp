// The sample photos through the built-in host under many host behaviours:
// tile sizes, padded strides, selections and both coordinate widths must
// never show in the result.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "io/Formats.h"
#include "entry/Entry.h"
#include "host/FilterHost.h"
#include "tests/TestImages.h"

namespace gm::host {
namespace {

struct HostSetting {
  int16_t tileWidth, tileHeight;
  int32_t padding;
  bool bigDocument;
  bool selection;
};

TEST(HostSamples, EveryHostSettingGivesTheDirectKernelResult) {
  const HostSetting settings[] = {
      {256, 256, 0, true, false}, {64, 64, 3, false, false}, {15, 23, 1, true, true},
      {8, 12, 0, false, true},    {1000, 13, 7, true, true}, {32767, 32767, 0, false, false},
  };
  std::mt19937 rng(99);
  for (const char* name : {"astronaut.png", "coffee.png"}) {
    const std::string path = std::string(GM_SAMPLES_DIR) + "/" + name;
    const Image original = gm::io::DecodeFile(path, {gm::io::DecodeLimits{}, [] { return false; }});
    ASSERT_GT(original.width, 0) << path;
    for (const HostSetting& s : settings) {
      Image image = original;
      RunOptions options;
      options.tileWidth = s.tileWidth;
      options.tileHeight = s.tileHeight;
      options.rowPadding = s.padding;
      options.bigDocument = s.bigDocument;
      if (s.selection) {
        const int32_t top = rng() % (image.height / 2), left = rng() % (image.width / 2);
        options.filterRect = VRect{top, left, top + 1 + int32_t(rng() % (image.height - top)),
                                   left + 1 + int32_t(rng() % (image.width - left))};
      }
      const Image expected = test::ReferenceResult(original, options.filterRect);
      FilterHost host(PluginMain);
      const RunReport report = host.Run(image, options);
      ASSERT_TRUE(report.Succeeded()) << name << " result " << report.result;
      EXPECT_EQ(report.paddingBytesTouched, 0);
      EXPECT_EQ(image.pixels, expected.pixels) << name << " tile " << s.tileWidth << "x" << s.tileHeight;
    }
  }
}

}  // namespace
}  // namespace gm::host
