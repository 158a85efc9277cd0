// The art in the photo's colours: each glyph in its cell's mean colour from
// before the filter ran, as terminal escapes and as an HTML page whose text
// is exactly the plain text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "io/Formats.h"
#include "text/Colours.h"
#include "cli_files.h"

namespace {

using clitest::RunGlyphmosaic;
using clitest::TempDir;
using gm::Image;
using gm::text::Rgb;

using clitest::Save;

void Fill(Image& image, int left, int top, int width, int height, Rgb c) {
  for (int y = top; y < top + height; ++y) {
    for (int x = left; x < left + width; ++x) {
      uint8_t* p = image.At(x, y);
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
  }
}

// 3 x 2 cells whose means are worked out by hand:
//   (0,0) red over blue, 48 pixels each: 127.5 rounds to 128 -> (128, 0, 128)
//   (0,1) red 10 x column, green 20 x row, blue 7: (35, 110, 7)
//   (0,2) (128, 0, 128) throughout; the rest (50, 60, 70).
Image HandMade() {
  Image image(24, 24, 3);
  Fill(image, 0, 0, 8, 6, {255, 0, 0});
  Fill(image, 0, 6, 8, 6, {0, 0, 255});
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 8; ++j) {
      Fill(image, 8 + j, i, 1, 1, {static_cast<uint8_t>(10 * j), static_cast<uint8_t>(20 * i), 7});
    }
  }
  Fill(image, 16, 0, 8, 12, {128, 0, 128});
  Fill(image, 0, 12, 24, 12, {50, 60, 70});
  return image;
}

const std::vector<Rgb> kHandMadeMeans = {{128, 0, 128}, {35, 110, 7}, {128, 0, 128},
                                         {50, 60, 70},  {50, 60, 70}, {50, 60, 70}};

TEST(Colours, CellMeansAreRoundedMeansOfTheColourSamples) {
  EXPECT_EQ(gm::text::CellColours(HandMade(), VRect{0, 0, 24, 24}), kHandMadeMeans);
  // Only whole cells of the area count, and alpha plays no part.
  Image rgba(20, 14, 4);
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 20; ++x) {
      uint8_t* p = rgba.At(x, y);
      p[0] = static_cast<uint8_t>(x < 14 ? 200 : 0), p[1] = 9, p[2] = static_cast<uint8_t>(y), p[3] = 0;
    }
  }
  // Two cells from column 2, row 1: red 200 in all of the first and half the
  // second; blue 1 to 12 down the rows, a mean of 6.5 that rounds to 7.
  EXPECT_EQ(gm::text::CellColours(rgba, VRect{1, 2, 14, 20}), (std::vector<Rgb>{{200, 9, 7}, {100, 9, 7}}));
}

std::string Escape(Rgb c) {
  return "\x1b[38;2;" + std::to_string(c.r) + ";" + std::to_string(c.g) + ";" + std::to_string(c.b) + "m";
}

std::string StripEscapes(const std::string& s) { return std::regex_replace(s, std::regex("\x1b\\[[0-9;]*m"), ""); }

TEST(Colours, TerminalEscapesOnlyWhereTheColourChanges) {
  TempDir dir;
  Save(HandMade(), dir / "in.png");
  const auto plain = RunGlyphmosaic({"--text", "-", dir / "in.png"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  const std::string& t = plain.out;
  ASSERT_EQ(t.size(), 8u);
  const std::string want = Escape(kHandMadeMeans[0]) + t[0] + Escape(kHandMadeMeans[1]) + t[1] +
                           Escape(kHandMadeMeans[2]) + t[2] + "\x1b[0m\n" + Escape(kHandMadeMeans[3]) +
                           t.substr(4, 3) + "\x1b[0m\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--colour", dir / "in.png"}, {"--color", "--text", "-", dir / "in.png"}}) {
    const auto run = RunGlyphmosaic(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, want);
  }
  const auto toFile = RunGlyphmosaic({"--colour", "--text", dir / "art.txt", dir / "in.png"});
  ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
  EXPECT_EQ(clitest::ReadFile(dir / "art.txt"), want);
}

TEST(Colours, APhotoInColourIsItsPlainTextOnceTheEscapesGo) {
  for (const char* columns : {"31", "97"}) {
    const std::string input = std::string(GM_SAMPLES_DIR) + "/coffee.png";
    const auto plain = RunGlyphmosaic({"--columns", columns, input});
    const auto colour = RunGlyphmosaic({"--columns", columns, "--colour", input});
    ASSERT_EQ(colour.exitCode, 0) << colour.err;
    EXPECT_EQ(StripEscapes(colour.out), plain.out);
    // Every line opens with a colour and ends with a reset.
    size_t lines = 0;
    for (size_t at = 0; at < colour.out.size(); ++lines) {
      const size_t end = colour.out.find('\n', at);
      const std::string line = colour.out.substr(at, end - at);
      EXPECT_EQ(line.rfind("\x1b[38;2;", 0), 0u) << line;
      EXPECT_TRUE(line.ends_with("\x1b[0m")) << line;
      at = end + 1;
    }
    EXPECT_EQ(lines, static_cast<size_t>(std::count(plain.out.begin(), plain.out.end(), '\n')));
  }
}

std::string Unescape(std::string s) {
  for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
           {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
    s = std::regex_replace(s, std::regex(entity), c);
  }
  return s;
}

struct Page {
  std::string title;
  std::string text;                 // the <pre>'s text, as a browser reads it
  std::vector<std::string> colours;  // of its elements, in order
};

Page ReadPage(const std::string& html) {
  Page page;
  std::smatch m;
  EXPECT_TRUE(std::regex_search(html, m, std::regex("<title>([^<]*)</title>")));
  page.title = m[1];
  const size_t open = html.find("<pre>\n");
  const size_t close = html.find("</pre>");
  EXPECT_NE(open, std::string::npos);
  EXPECT_EQ(html.find("<pre", open + 1), std::string::npos);  // one <pre> only
  const std::string body = html.substr(open + 6, close - open - 6);
  const std::regex span("<span style=\"color:(#[0-9a-f]{6})\">");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), span); it != std::sregex_iterator(); ++it) {
    page.colours.push_back((*it)[1]);
  }
  page.text = Unescape(std::regex_replace(std::regex_replace(body, span, ""), std::regex("</span>"), ""));
  return page;
}

TEST(Colours, HtmlPageHoldsThePlainTextInRunsOfColour) {
  TempDir dir;
  Save(HandMade(), dir / "a&b <c>.png");
  const auto run = RunGlyphmosaic({"--html", dir / "page.html", dir / "a&b <c>.png", dir / "out.png"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");  // with OUTPUT, no art on standard output
  const std::string html = clitest::ReadFile(dir / "page.html");
  const Page page = ReadPage(html);
  EXPECT_EQ(page.title, "a&amp;b &lt;c&gt;.png");
  EXPECT_EQ(page.text, RunGlyphmosaic({dir / "a&b <c>.png"}).out);
  // Four runs: the last three cells share one colour.
  EXPECT_EQ(page.colours, (std::vector<std::string>{"#800080", "#236e07", "#800080", "#323c46"}));
  EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(html.find("background: #000"), std::string::npos);
  EXPECT_NE(html.find("monospace"), std::string::npos);
  for (const char* outside : {"<script", "src=", "href=", "url(", "@import", "http"}) {
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  }
}

TEST(Colours, HtmlOfAPhotoReadsAsItsText) {
  TempDir dir;
  const std::string input = std::string(GM_SAMPLES_DIR) + "/coffee.png";
  const auto run = RunGlyphmosaic({"--columns", "90", "--html", "-", input});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Page page = ReadPage(run.out);
  const std::string plain = RunGlyphmosaic({"--columns", "90", input}).out;
  ASSERT_NE(plain.find_first_of("&<>\""), std::string::npos);  // the escaping is exercised
  EXPECT_EQ(page.text, plain);
  EXPECT_EQ(page.title, "coffee.png");
  EXPECT_GT(page.colours.size(), 100u);
}

}  // namespace
