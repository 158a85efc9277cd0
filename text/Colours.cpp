#include "text/Colours.h"

#include <cstdio>

#include "fit/GlyphTable.h"

namespace gm::text {

namespace {

std::string EscapeHtml(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    default:
      return std::string(1, c);
  }
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (const char c : text) out += EscapeHtml(c);
  return out;
}

}  // namespace

std::vector<Rgb> CellColours(const Image& image, VRect area) {
  const int32_t columns = (area.right - area.left) / kGlyphWidth;
  const int32_t rows = (area.bottom - area.top) / kGlyphHeight;
  constexpr uint32_t kPixels = kGlyphWidth * kGlyphHeight;
  std::vector<Rgb> colours;
  colours.reserve(static_cast<size_t>(columns) * static_cast<size_t>(rows));
  for (int32_t m = 0; m < rows; ++m) {
    for (int32_t n = 0; n < columns; ++n) {
      uint32_t sum[3] = {};
      for (int i = 0; i < kGlyphHeight; ++i) {
        const uint8_t* p = image.At(area.left + n * kGlyphWidth, area.top + m * kGlyphHeight + i);
        for (int j = 0; j < kGlyphWidth; ++j, p += image.channels) {
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
      }
      auto mean = [&](int c) { return static_cast<uint8_t>((sum[c] + kPixels / 2) / kPixels); };
      colours.push_back(Rgb{mean(0), mean(1), mean(2)});
    }
  }
  return colours;
}

std::string AnsiText(const std::string& text, const std::vector<Rgb>& colours) {
  std::string out;
  size_t cell = 0;
  bool lineStart = true;
  Rgb current;
  for (const char c : text) {
    if (c == '\n') {
      if (!lineStart) out += "\x1b[0m";
      out += '\n';
      lineStart = true;
      continue;
    }
    const Rgb colour = colours.at(cell++);
    if (lineStart || !(colour == current)) {
      char escape[32];
      std::snprintf(escape, sizeof escape, "\x1b[38;2;%u;%u;%um", colour.r, colour.g, colour.b);
      out += escape;
      current = colour;
    }
    lineStart = false;
    out += c;
  }
  return out;
}

std::string HtmlPage(const std::string& text, const std::vector<Rgb>& colours, const std::string& title) {
  // The line feed after <pre> is dropped by every parser: the text starts after it.
  // Lines 0.9 em apart give a monospace glyph (0.6 em wide) the cells' 2:3 shape.
  std::string out =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + EscapeHtml(title) +
      "</title>\n<style>\nbody { background: #000; margin: 1em; }\n"
      "pre { font-family: monospace; font-size: 10px; line-height: 0.9; color: #c0c0c0; margin: 0; }\n"
      "</style>\n</head>\n<body>\n<pre>\n";
  size_t cell = 0;
  bool open = false;
  Rgb current;
  for (const char c : text) {
    if (c != '\n') {
      const Rgb colour = colours.at(cell++);
      if (!open || !(colour == current)) {
        if (open) out += "</span>";
        char tag[40];
        std::snprintf(tag, sizeof tag, "<span style=\"color:#%02x%02x%02x\">", colour.r, colour.g, colour.b);
        out += tag;
        open = true;
        current = colour;
      }
    }
    out += EscapeHtml(c);
  }
  if (open) out += "</span>";
  out += "</pre>\n</body>\n</html>\n";
  return out;
}

}  // namespace gm::text
