// The real glyphmosaic binary, end to end: what it writes must be the filter's
// own result over the decoded pixels, and every failure one line, its exit
// code and no file.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

#include <functional>
#include <thread>

#include "abi/HostTypes.h"
#include "io/Formats.h"
#include "io/Scale.h"
#include "text/TextArt.h"
#include "cli_files.h"

namespace {

using clitest::RunGlyphmosaic;
using clitest::TempDir;
using gm::test::ReferenceResult;
using gm::Image;

using clitest::Decode;
using clitest::Save;

TEST(CliTool, SamplePhotosMatchTheKernelAndTheirText) {
  for (const char* name : {"astronaut.png", "coffee.png"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string input = std::string(GM_SAMPLES_DIR) + "/" + name;
    const auto run = RunGlyphmosaic({"--text", dir / "art.txt", input, dir / "out.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const Image out = Decode(dir / "out.png");
    const Image want = ReferenceResult(Decode(input));
    ASSERT_EQ(out.pixels, want.pixels);
    EXPECT_EQ(clitest::ReadFile(dir / "art.txt"), gm::text::ReadDrawnText(out, VRect{0, 0, out.height, out.width}));
  }
}

// Inputs of every kind the tool reads: the written result is the kernel's
// over the decoded pixels, with the input's size and alpha.
TEST(CliTool, InputKindsGiveTheKernelsResult) {
  struct Case {
    const char* name;
    const char* output;
    std::function<void(const std::string&)> write;
    int channels;
  };
  auto png = [](int type, int depth, int w, int h, bool interlaced = false) {
    return [=](const std::string& path) {
      clitest::PngSpec s;
      s.width = w;
      s.height = h;
      s.colourType = type;
      s.depth = depth;
      s.interlaced = interlaced;
      const int channels = s.Channels();
      const Image picture = clitest::Picture(w, h, 4, 7);
      const int max = (1 << depth) - 1;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          for (int k = 0; k < channels; ++k) {
            const int v = picture.At(x, y)[channels == 2 && k == 1 ? 3 : k];
            s.samples.push_back(static_cast<uint16_t>(depth == 16 ? v * 257 + (x & 127) : v * max / 255));
          }
        }
      }
      if (type == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i <= max; ++i) {
          s.palette.insert(s.palette.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i)});
        }
      }
      clitest::WritePng(path, s);
    };
  };
  const Case cases[] = {
      {"rgba.png", "out.png", png(PNG_COLOR_TYPE_RGB_ALPHA, 8, 80, 60), 4},
      {"grey.png", "out.png", png(PNG_COLOR_TYPE_GRAY, 8, 64, 48), 3},
      {"greyAlpha.png", "out.tif", png(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 40, 36), 4},
      {"palette.png", "out.png", png(PNG_COLOR_TYPE_PALETTE, 8, 72, 50, true), 3},
      {"deep.png", "out.png", png(PNG_COLOR_TYPE_RGB, 16, 48, 40), 3},
      {"odd.png", "out.tiff", png(PNG_COLOR_TYPE_RGB, 8, 37, 29), 3},
      {"tiny.png", "out.png", png(PNG_COLOR_TYPE_RGB, 8, 5, 7), 3},
      {"photo.jpg", "out.png",
       [](const std::string& path) {
         const Image p = clitest::Picture(50, 38, 3, 11);
         clitest::WriteJpeg(path, p.width, p.height, 3, {p.pixels.begin(), p.pixels.end()}, true);
       },
       3},
      {"tiles.tif", "out.png",
       [](const std::string& path) {
         clitest::TiffSpec s;
         s.width = 45;
         s.height = 33;
         s.samples = 4;
         s.alpha = true;
         s.tiled = true;
         const Image p = clitest::Picture(45, 33, 4, 13);
         s.data.assign(p.pixels.begin(), p.pixels.end());
         clitest::WriteTiff(path, s);
       },
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.write(dir / c.name);
    const auto run = RunGlyphmosaic({dir / c.name, dir / c.output});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Image in = Decode(dir / c.name);
    const Image out = Decode(dir / c.output);
    ASSERT_EQ(out.channels, c.channels);
    ASSERT_EQ(out.width, in.width);
    ASSERT_EQ(out.height, in.height);
    ASSERT_EQ(out.pixels, ReferenceResult(in).pixels);
    // Filtered all over, every pixel is grey: the file says so.
    if (std::string(c.output).ends_with(".png")) {
      const int type = static_cast<uint8_t>(clitest::ReadFile(dir / c.output)[25]);
      EXPECT_EQ(type & PNG_COLOR_MASK_COLOR, 0);
    }
  }
}

TEST(CliTool, RectFiltersOnlyThatAreaAndItsText) {
  TempDir dir;
  const Image picture = clitest::Picture(90, 70, 4, 21);
  Save(picture, dir / "in.png");
  const VRect area{7, 5, 58, 77};  // 9 x 4 cells with remainders on both edges
  const auto run = RunGlyphmosaic({"--rect", "7,5,58,77", "--text", dir / "art.txt", dir / "in.png", dir / "out.png"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Image out = Decode(dir / "out.png");
  ASSERT_EQ(out.pixels, ReferenceResult(picture, area).pixels);
  const std::string text = clitest::ReadFile(dir / "art.txt");
  EXPECT_EQ(text, gm::text::ReadDrawnText(out, area));
  EXPECT_EQ(text.find('\n'), 9u);
}

TEST(CliTool, TileSizeDoesNotChangeTheResult) {
  TempDir dir;
  Save(clitest::Picture(131, 97, 3, 4), dir / "in.png");
  ASSERT_EQ(RunGlyphmosaic({dir / "in.png", dir / "default.png"}).exitCode, 0);
  const Image reference = Decode(dir / "default.png");
  for (const char* tile : {"8x12", "9x13", "23x64", "64x23", "100x37", "32767x32767"}) {
    SCOPED_TRACE(tile);
    const auto run = RunGlyphmosaic({"--tile", tile, "--rect", "3,2,95,130", dir / "in.png", dir / "t.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto whole = RunGlyphmosaic({"--tile", tile, dir / "in.png", dir / "w.png"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(Decode(dir / "w.png").pixels, reference.pixels);
    EXPECT_EQ(Decode(dir / "t.png").pixels, ReferenceResult(Decode(dir / "in.png"), VRect{3, 2, 95, 130}).pixels);
  }
}

TEST(CliTool, TextToStandardOutputWritesNoImage) {
  TempDir dir;
  Save(clitest::Picture(83, 61, 3, 8), dir / "in.png");
  const auto text = RunGlyphmosaic({"--text", "-", dir / "in.png"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.png"});
  const auto image = RunGlyphmosaic({"--text", dir / "art.txt", dir / "in.png", dir / "out.png"});
  ASSERT_EQ(image.exitCode, 0) << image.err;
  EXPECT_EQ(text.out, clitest::ReadFile(dir / "art.txt"));
  EXPECT_EQ(text.out, gm::text::ReadDrawnText(Decode(dir / "out.png"), VRect{0, 0, 61, 83}));

  // A pipe (or a device such as /dev/null) is written in place, never replaced.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::string piped;
  std::thread reader([&] { piped = clitest::ReadFile(dir / "pipe"); });
  const auto toPipe = RunGlyphmosaic({"--text", dir / "pipe", dir / "in.png"});
  reader.join();
  EXPECT_EQ(toPipe.exitCode, 0) << toPipe.err;
  EXPECT_EQ(piped, text.out);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(CliTool, ColumnsScalesFirstByAreaAverage) {
  TempDir dir;
  const Image picture = clitest::Picture(301, 203, 3, 12);
  Save(picture, dir / "in.png");
  const auto run = RunGlyphmosaic({"--columns", "20", "--text", "-", dir / "in.png", dir / "out.png"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const gm::io::Size size = gm::io::ScaledSize(301, 203, 160);
  const Image out = Decode(dir / "out.png");
  ASSERT_EQ(out.width, 160);
  ASSERT_EQ(out.height, size.height);
  EXPECT_EQ(out.pixels, ReferenceResult(gm::io::AreaScale(picture, size)).pixels);
  EXPECT_EQ(run.out.find('\n'), 20u);
  EXPECT_EQ(run.out, gm::text::ReadDrawnText(out, VRect{0, 0, out.height, out.width}));
}

TEST(CliTool, AboutHelpAndVersion) {
  const auto about = RunGlyphmosaic({"--about"});
  EXPECT_EQ(about.exitCode, 0);
  EXPECT_EQ(about.out.rfind("GlyphMosaic 1.0\n", 0), 0u) << about.out;
  EXPECT_EQ(std::count(about.out.begin(), about.out.end(), '\n'), 3);
  const auto help = RunGlyphmosaic({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--text"), std::string::npos);
  const auto version = RunGlyphmosaic({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find("1.0"), std::string::npos);
}

// A PNG that is only a header: enough to be refused for its size.
std::string PngHeaderOnly(uint32_t width, uint32_t height) {
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return be32(static_cast<uint32_t>(data.size())) + body + be32(static_cast<uint32_t>(crc));
  };
  const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", std::string("\x78\x9c\x03\x00", 4)) +
         chunk("IEND", "");
}

TEST(CliTool, FailuresAreOneLineWithTheirExitCodeAndLeaveNoFile) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> setup;  // makes dir/"in" and whatever else
    std::vector<std::string> args;              // "@" is replaced by the folder
    int exitCode;
    const char* says;
  };
  auto bytes = [](std::string content) {
    return [content](const TempDir& d) { clitest::WriteFile(d / "in", content); };
  };
  auto valid = [](const gm::io::Codec* format, int channels) {
    return [=](const TempDir& d) { Save(clitest::Picture(40, 30, channels, 2), d / "in", format); };
  };
  auto spoiled = [](const gm::io::Codec* format, std::function<void(std::string&)> spoil) {
    return [=](const TempDir& d) {
      Save(clitest::Picture(120, 90, 3, 2), d / "in", format);
      std::string content = clitest::ReadFile(d / "in");
      spoil(content);
      clitest::WriteFile(d / "in", content);
    };
  };
  auto half = [](std::string& s) { s.resize(s.size() / 2); };
  const std::vector<std::string> plain = {"@/in", "@/out.png"};
  const Case cases[] = {
      {"missing file", [](const TempDir&) {}, plain, 2, "No such file"},
      {"directory", [](const TempDir& d) { ::mkdir((d / "in").c_str(), 0755); }, plain, 2, "directory"},
      {"empty file", bytes(""), plain, 2, "empty"},
      {"damaged GIF under .png", bytes("GIF89a\x01\x00\x01\x00\x00\x00\x00;"), plain, 2, "not a valid GIF file"},
      {"text under .jpg", bytes("hello, world\n"), {"@/in", "@/out.jpg"}, 2, "not a PNG, JPEG, TIFF, WebP, GIF"},
      {"truncated PNG", spoiled(gm::io::CodecNamed("png"), half), plain, 2, "corrupt or truncated PNG"},
      {"corrupt PNG", spoiled(gm::io::CodecNamed("png"), [](std::string& s) { s[s.size() / 2] ^= 0x55; }), plain, 2,
       "corrupt or truncated PNG"},
      {"truncated JPEG", spoiled(gm::io::CodecNamed("jpeg"), half), plain, 2, "Premature end of JPEG file"},
      {"corrupt JPEG", spoiled(gm::io::CodecNamed("jpeg"), [](std::string& s) { s.replace(3, 40, 40, '\x11'); }), plain, 2,
       "not a valid JPEG"},
      {"truncated TIFF", spoiled(gm::io::CodecNamed("tiff"), [](std::string& s) { s.resize(s.size() / 3); }), plain, 2,
       "TIFF"},
      {"corrupt TIFF", spoiled(gm::io::CodecNamed("tiff"), [](std::string& s) { s.replace(4, 4, "\xff\xff\xff\x7f", 4); }),
       plain, 2, "not a valid TIFF"},
      {"zero width", bytes(PngHeaderOnly(0, 10)), plain, 2, "width is zero"},
      {"over the size limit", bytes(PngHeaderOnly(2'000'001, 1)), plain, 2, "2000000"},
      {"over the memory limit", bytes(PngHeaderOnly(20'000, 20'000)), {"--max-memory", "100M", "@/in", "@/out.png"},
       2, "--max-memory"},
      {"over the default memory limit", bytes(PngHeaderOnly(1'999'999, 1'999'999)), plain, 2, "--max-memory"},
      {"missing output folder", valid(gm::io::CodecNamed("png"), 3), {"@/in", "@/no/such/out.png"}, 3, "cannot create"},
      {"output folder is a file", valid(gm::io::CodecNamed("png"), 3), {"@/in", "@/in/out.png"}, 3, "cannot create"},
      {"output in /proc", valid(gm::io::CodecNamed("png"), 3), {"@/in", "/proc/out.png"}, 3, "cannot create"},
      {"alpha to JPEG", valid(gm::io::CodecNamed("png"), 4), {"@/in", "@/out.jpg"}, 3, "alpha"},
      {"over WebP's size", [](const TempDir& d) { Save(clitest::Picture(16384, 12, 3, 2), d / "in"); },
       {"@/in", "@/out.webp"}, 3, "WebP holds at most 16383 pixels a side, and the image is 16384x12"},
      {"truncated WebP", spoiled(gm::io::CodecNamed("webp"), half), plain, 2, "truncated WebP file"},
      // dav1d, under libheif, prints why it refuses this file's empty payload on standard error.
      {"AVIF dav1d refuses", bytes(clitest::ReadFile(GM_SOURCE_DIR "/fuzz/corpus/decode/found-dav1d-message.avif")),
       plain, 2, "corrupt HEIF image"},
      {"frame past the end", valid(gm::io::CodecNamed("png"), 3), {"--frame", "2", "@/in", "@/out.png"}, 2,
       "the image has only one frame"},
      {"frame 0", valid(gm::io::CodecNamed("png"), 3), {"--frame", "0", "@/in", "@/out.png"}, 1, "--frame 0"},
      {"unknown output format", valid(gm::io::CodecNamed("png"), 3), {"@/in", "@/out.bmp"}, 1, "format"},
      {"rect outside", valid(gm::io::CodecNamed("png"), 3), {"--rect", "0,0,31,40", "@/in", "@/out.png"}, 1, "outside"},
      {"bad option", valid(gm::io::CodecNamed("png"), 3), {"--tile", "big", "@/in", "@/out.png"}, 1, "--tile"},
      {"tile below one cell", valid(gm::io::CodecNamed("png"), 3), {"--tile", "7x11", "@/in", "@/out.png"}, 4,
       "-30100 (filterBadParameters)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.setup(dir);
    clitest::WriteFile(dir / "out.png", "old");  // an existing file must survive a failed run
    const auto before = dir.Entries();
    std::vector<std::string> args;
    for (std::string a : c.args) {
      if (a[0] == '@') a = dir.Path() + a.substr(1);
      args.push_back(a);
    }
    const auto run = RunGlyphmosaic(args);
    clitest::ExpectOneLineFailure(run, c.exitCode, c.says);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.Entries(), before);
    EXPECT_EQ(clitest::ReadFile(dir / "out.png"), "old");
  }
}

// Ctrl-C for real: SIGINT to the running process once its progress bar shows
// on a terminal, with tiles so small that the run has far to go.
TEST(CliTool, InterruptCancelsAndWritesNothing) {
#ifdef GM_EMULATED
  GTEST_SKIP() << "under an emulator the terminal's timing is the emulator's";
#endif
  TempDir dir;
  Save(clitest::Picture(3000, 2400, 3, 6), dir / "big.png");
  clitest::Streams terminal;
  terminal.terminalColumns = 80;
  terminal.errorToTerminal = true;
  terminal.interruptWhen = [](const std::string& screen) { return screen.find("filtering") != std::string::npos; };
  const auto run = RunGlyphmosaic({"--tile", "8x12", dir / "big.png", dir / "out.png"}, terminal);
  EXPECT_EQ(run.exitCode, 130) << run.out;
  EXPECT_NE(run.out.find("glyphmosaic: " + dir / "big.png" + ": cancelled"), std::string::npos) << run.out;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"big.png"});
}

}  // namespace
