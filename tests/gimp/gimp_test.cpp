// The plug-in inside GIMP itself: one batch session runs every case in
// cases.scm, then each test compares what GIMP saved with what the
// command-line tool writes for the same pixels and rectangle.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "io/Formats.h"
#include "gimp_session.h"
#include "cli_files.h"

namespace {

namespace fs = std::filesystem;
using gimptest::Bounds;

const std::string kSamples = GM_SAMPLES_DIR;

struct Session {
  std::string out;     // what the cases left
  std::string inputs;  // images the test made for them
  int exitCode = -1;
  std::string log;
};

using clitest::Decode;

// A layer with every alpha level, transparent pixels included, over the
// photo. At 16 bits the colour is the photo's exactly and alpha takes values
// that no 8-bit level gives.
void WriteAlphaInput(const std::string& path, int depth) {
  const gm::Image photo = Decode(kSamples + "/coffee.png");
  clitest::PngSpec spec;
  spec.width = photo.width;
  spec.height = photo.height;
  spec.colourType = 6;
  spec.depth = depth;
  const uint16_t scale = depth == 16 ? 257 : 1;
  for (int32_t y = 0; y < photo.height; ++y) {
    for (int32_t x = 0; x < photo.width; ++x) {
      const uint8_t* p = photo.At(x, y);
      const auto alpha = static_cast<uint16_t>(depth == 16 ? (x * 7919 + y * 104729) % 65536 : (x * 7 + y * 3) % 256);
      spec.samples.insert(spec.samples.end(), {uint16_t(p[0] * scale), uint16_t(p[1] * scale), uint16_t(p[2] * scale),
                                               alpha});
    }
  }
  clitest::WritePng(path, spec);
}

// The alpha samples of a 16-bit RGBA PNG as stored, through libpng's own read.
std::vector<uint16_t> Alpha16(const std::string& path) {
  const clitest::PngSamples png = clitest::ReadPng(path, PNG_TRANSFORM_IDENTITY);
  std::vector<uint16_t> alpha;
  if (png.depth != 16 || png.channels != 4) return alpha;
  for (size_t i = 3; i < png.samples.size(); i += 4) alpha.push_back(png.samples[i]);
  return alpha;
}

const Session& RunCases() {
  static const Session session = [] {
    Session s;
    const fs::path work = fs::path(GM_GIMP_WORK) / "batch";
    fs::remove_all(work);
    s.out = (work / "out").string();
    s.inputs = (work / "in").string();
    fs::create_directories(s.out);
    fs::create_directories(s.inputs);
    WriteAlphaInput(s.inputs + "/alpha.png", 8);
    WriteAlphaInput(s.inputs + "/alpha-16-bit.png", 16);
    const std::string program = "(begin (define gm-samples \"" + kSamples + "\") (define gm-inputs \"" + s.inputs +
                                "\") (define gm-out \"" + s.out + "\") (define gm-peaks \"" + gimptest::PeakLog() +
                                "\") (load \"" GM_GIMP_CASES "\"))";
    const clitest::RunResult run = gimptest::RunGimpBatch({program});
    s.exitCode = run.exitCode;
    s.log = run.out + run.err;
    return s;
  }();
  return session;
}

std::string CaseFile(const std::string& name) { return RunCases().out + "/" + name; }

// Whether the case left its result, and if not, why.
testing::AssertionResult Ran(const std::string& name) {
  const Session& s = RunCases();
  if (s.exitCode != 0) return testing::AssertionFailure() << "GIMP failed:\n" << s.log;
  if (clitest::Exists(CaseFile(name + ".failed.txt"))) {
    return testing::AssertionFailure() << clitest::ReadFile(CaseFile(name + ".failed.txt"));
  }
  if (!clitest::Exists(CaseFile(name + ".png"))) return testing::AssertionFailure() << "no result\n" << s.log;
  return testing::AssertionSuccess();
}

gm::Image ToolResult(const std::string& input, std::optional<Bounds> rect) {
  clitest::TempDir dir;
  std::vector<std::string> args{"-q"};
  if (rect) {
    args.push_back("--rect");
    args.push_back(std::to_string(rect->y) + "," + std::to_string(rect->x) + "," + std::to_string(rect->y + rect->h) +
                   "," + std::to_string(rect->x + rect->w));
  }
  args.push_back(input);
  args.push_back(dir / "out.png");
  const clitest::RunResult run = clitest::RunGlyphmosaic(args);
  if (run.exitCode != 0) throw std::runtime_error("glyphmosaic failed: " + run.err);
  return Decode(dir / "out.png");
}

// Where two images first differ, for a failure message; empty when equal.
std::string FirstDifference(const gm::Image& a, const gm::Image& b) {
  if (a.width != b.width || a.height != b.height || a.channels != b.channels) {
    std::ostringstream s;
    s << a.width << "x" << a.height << "x" << a.channels << " against " << b.width << "x" << b.height << "x"
      << b.channels;
    return s.str();
  }
  const auto diff = std::mismatch(a.pixels.begin(), a.pixels.end(), b.pixels.begin());
  if (diff.first == a.pixels.end()) return {};
  const size_t at = static_cast<size_t>(diff.first - a.pixels.begin());
  const size_t pixel = at / a.channels;
  std::ostringstream s;
  s << "pixel (" << pixel % a.width << ", " << pixel / a.width << ") channel " << at % a.channels << ": "
    << int{*diff.first} << " against " << int{*diff.second};
  return s.str();
}

TEST(GimpPlugin, FilteredLayerEqualsTheToolByteForByte) {
  struct Case {
    const char* name;
    std::string input;                // what the tool filters
    std::optional<Bounds> rectangle;  // the selection, in the layer's own coordinates
  };
  const std::string coffee = kSamples + "/coffee.png";
  const std::vector<Case> cases = {
      {"whole-coffee", coffee, std::nullopt},
      {"whole-astronaut", kSamples + "/astronaut.png", std::nullopt},
      {"rectangle", coffee, Bounds{37, 29, 301, 203}},
      // Selected at (100, 80) in the image, on a layer placed at (45, 31).
      {"offsets", coffee, Bounds{55, 49, 250, 170}},
      {"alpha", RunCases().inputs + "/alpha.png", std::nullopt},
      {"16-bit", coffee, std::nullopt},
      {"alpha-16-bit", RunCases().inputs + "/alpha-16-bit.png", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::AssertionResult ran = Ran(c.name);
    EXPECT_TRUE(ran);
    if (!ran) continue;
    const gm::Image gimp = Decode(CaseFile(std::string(c.name) + ".png"));
    const gm::Image tool = ToolResult(c.input, c.rectangle);
    EXPECT_EQ(FirstDifference(gimp, tool), "");
  }
}

// Inside the selection's bounding box, each sample lies between the original
// and the filtered one (a hard edge gives exactly one of them); outside it,
// nothing changes.
TEST(GimpPlugin, SelectionMaskDecidesWhatChanges) {
  struct Case {
    const char* name;
    bool feathered;
  };
  const std::string coffee = kSamples + "/coffee.png";
  const gm::Image original = Decode(coffee);
  for (const Case c : {Case{"ellipse", false}, Case{"feathered", true}}) {
    SCOPED_TRACE(c.name);
    const testing::AssertionResult ran = Ran(c.name);
    EXPECT_TRUE(ran);
    if (!ran) continue;
    const Bounds box = gimptest::ReadBounds(CaseFile(std::string(c.name) + ".txt"));
    const gm::Image gimp = Decode(CaseFile(std::string(c.name) + ".png"));
    const gm::Image tool = ToolResult(coffee, box);
    ASSERT_EQ(FirstDifference(tool, original).empty(), false);
    ASSERT_EQ(gimp.channels, 3);
    int64_t outsideChanged = 0, outOfRange = 0, filtered = 0, blended = 0, kept = 0;
    for (int32_t y = 0; y < original.height; ++y) {
      for (int32_t x = 0; x < original.width; ++x) {
        const bool inside = x >= box.x && x < box.x + box.w && y >= box.y && y < box.y + box.h;
        const uint8_t* o = original.At(x, y);
        const uint8_t* t = tool.At(x, y);
        const uint8_t* g = gimp.At(x, y);
        if (!inside) {
          outsideChanged += !std::equal(o, o + 3, g);
          continue;
        }
        if (std::equal(o, o + 3, t)) continue;  // the filter left it alone: no evidence either way
        const bool isTool = std::equal(t, t + 3, g);
        const bool isOriginal = std::equal(o, o + 3, g);
        filtered += isTool;
        kept += isOriginal;
        blended += !isTool && !isOriginal;
        for (int i = 0; i < 3; ++i) {
          // One level of rounding either way when GIMP blends.
          outOfRange += g[i] + 1 < std::min(o[i], t[i]) || g[i] > std::max(o[i], t[i]) + 1;
        }
      }
    }
    EXPECT_EQ(outsideChanged, 0);
    EXPECT_EQ(outOfRange, 0);
    EXPECT_GT(filtered, 1000);  // the middle of the selection is filtered
    EXPECT_GT(kept, 100);       // the box's corners lie outside the ellipse
    if (c.feathered) {
      EXPECT_GT(blended, 100);
    } else {
      EXPECT_EQ(blended, 0);
    }
  }
}

// Alpha never passes through 8 bits: at 16 bits, and in linear float (saved
// as 16 bits again), every value comes back as it was.
TEST(GimpPlugin, AlphaKeepsItsPrecision) {
  const std::vector<uint16_t> before = Alpha16(RunCases().inputs + "/alpha-16-bit.png");
  ASSERT_EQ(before.size(), 600u * 400u);
  for (const char* name : {"alpha-16-bit", "alpha-float"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Ran(name));
    EXPECT_TRUE(Alpha16(CaseFile(std::string(name) + ".png")) == before);
  }
}

TEST(GimpPlugin, RefusesWhatItCannotFilterWithOneLine) {
  ASSERT_EQ(RunCases().exitCode, 0) << RunCases().log;
  struct Case {
    const char* name;
    const char* reason;
    bool layerKept;  // and its pixels are the photo's still
  };
  const std::string rgbOnly = "the filter works on RGB layers only; convert the image with Image > Mode > RGB.";
  const std::string notLayer = "the drawable must be a layer, not a layer mask or a channel.";
  const gm::Image coffee = Decode(kSamples + "/coffee.png");
  for (const Case c : {Case{"grey", rgbOnly.c_str(), false}, Case{"indexed", rgbOnly.c_str(), false},
                       Case{"group", "a layer group has no pixels of its own; choose one of its layers.", true},
                       Case{"mask", notLayer.c_str(), false}, Case{"channel", notLayer.c_str(), true},
                       Case{"locked", "the layer's pixels are locked.", true},
                       Case{"locked-group", "the layer's pixels are locked by its layer group", true}}) {
    SCOPED_TRACE(c.name);
    const std::string failure = clitest::ReadFile(CaseFile(std::string(c.name) + ".txt"));
    EXPECT_NE(failure.find(std::string("plug-in-glyphmosaic failed: GlyphMosaic: ") + c.reason), std::string::npos)
        << failure;
    EXPECT_EQ(std::count(failure.begin(), failure.end(), '\n'), 1) << failure;
    if (c.layerKept) {
      EXPECT_EQ(FirstDifference(Decode(CaseFile(std::string(c.name) + ".png")), coffee), "");
    }
  }
}

// Only the selection's bounding box is held: the plug-in's own peak, measured
// from its process, stays far below the layer's 768 MB.
TEST(GimpPlugin, SmallSelectionInALargeLayerTakesLittleMemory) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer's own memory would be measured";
#endif
  ASSERT_EQ(RunCases().exitCode, 0) << RunCases().log;
  const int64_t peakKiB = std::stoll(clitest::ReadFile(CaseFile("small-in-large.txt")));
  EXPECT_GT(peakKiB, 0);
  EXPECT_LT(peakKiB, 64 * 1024);
}

TEST(GimpPlugin, ListedUnderArtisticFiltersForRgbImages) {
  ASSERT_EQ(RunCases().exitCode, 0) << RunCases().log;
  const std::string query = clitest::ReadFile(CaseFile("registered.txt"));
  EXPECT_NE(query.find("(<Image>/Filters/Artistic/GlyphMosaic)"), std::string::npos) << query;
  EXPECT_NE(query.find("(RGB*)"), std::string::npos) << query;
  EXPECT_NE(query.find("(plug-in-glyphmosaic)"), std::string::npos) << query;
}

// Undo and progress need GIMP's user interface: a GIMP with a display under
// Xvfb gets Ctrl+Z in its image window, as from a person's keyboard, and the
// filter runs through a probe that sees what the progress bar is told. A run
// refused on a locked layer in between must leave no step of its own.
TEST(GimpDisplay, OneUndoRestoresTheOriginalAndTheProgressBarEnds) {
  const fs::path work = fs::path(GM_GIMP_WORK) / "display";
  fs::remove_all(work / "out");
  fs::create_directories(work / "out");
  const std::string coffee = kSamples + "/coffee.png";
  const clitest::RunResult run = clitest::RunProgram(
      {"xvfb-run", "-a", "-s", "-screen 0 1280x800x24", "python3", GM_GIMP_DISPLAY, "--gimp", GM_GIMP, "--plugin",
       GM_GIMP_PLUGIN, "--probe", GM_GIMP_PROBE, "--home", (work / "home").string(), "--photo", coffee, "undo",
       (work / "out").string()});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err << clitest::ReadFile((work / "home" / "gimp.log").string());
  EXPECT_EQ(FirstDifference(Decode((work / "out" / "filtered.png").string()), ToolResult(coffee, std::nullopt)), "");
  EXPECT_EQ(FirstDifference(Decode((work / "out" / "undone.png").string()), Decode(coffee)), "");
  const std::string locked = clitest::ReadFile((work / "out" / "locked.txt").string());
  EXPECT_NE(locked.find("GlyphMosaic: the layer's pixels are locked."), std::string::npos) << locked;
  // GIMP took every setting the driver gave it.
  EXPECT_EQ(clitest::ReadFile((work / "home" / "gimp.log").string()).find("rror while parsing"), std::string::npos);

  // Started with the product's name, rising to the end, ended.
  std::istringstream calls(clitest::ReadFile((work / "out" / "progress.txt").string()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(calls, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 4u) << calls.str();
  EXPECT_EQ(lines.front(), "start GlyphMosaic");
  EXPECT_EQ(lines.back(), "end");
  std::vector<double> values;
  for (size_t i = 1; i + 1 < lines.size(); ++i) values.push_back(std::stod(lines[i]));
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << calls.str();
  EXPECT_GT(values.front(), 0.0) << calls.str();
  EXPECT_EQ(values.back(), 1.0) << calls.str();
}

}  // namespace
