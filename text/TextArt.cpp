#include "text/TextArt.h"

#include <array>
#include <map>
#include <stdexcept>

#include "fit/GlyphTable.h"

namespace gm::text {

namespace {

using Pattern = std::array<uint8_t, kGlyphHeight>;

const std::map<Pattern, char>& Patterns() {
  static const std::map<Pattern, char> patterns = [] {
    std::map<Pattern, char> m;
    for (int g = 0; g < kGlyphCount; ++g) {
      Pattern p;
      for (int i = 0; i < kGlyphHeight; ++i) p[static_cast<size_t>(i)] = GlyphTable[g][i];
      m.emplace(p, static_cast<char>(kFirstGlyphCode + g));
    }
    return m;
  }();
  return patterns;
}

constexpr uint8_t kStroke = 192;

}  // namespace

std::optional<char> ReadCell(const Image& image, int32_t left, int32_t top) {
  Pattern pattern{};
  const int step = image.channels;
  for (int i = 0; i < kGlyphHeight; ++i) {
    const uint8_t* p = image.At(left, top + i);
    uint8_t bits = 0;
    for (int j = 0; j < kGlyphWidth; ++j, p += step) {
      if (p[0] != p[1] || p[0] != p[2]) return std::nullopt;
      if (p[0] == kStroke) {
        bits = static_cast<uint8_t>(bits | (1u << j));
      } else if (p[0] != 0) {
        return std::nullopt;
      }
    }
    pattern[static_cast<size_t>(i)] = bits;
  }
  const auto& patterns = Patterns();
  const auto found = patterns.find(pattern);
  if (found == patterns.end()) return std::nullopt;
  return found->second;
}

std::string ReadDrawnText(const Image& image, VRect area) {
  const int32_t columns = (area.right - area.left) / kGlyphWidth;
  const int32_t rows = (area.bottom - area.top) / kGlyphHeight;
  std::string text;
  text.reserve(static_cast<size_t>(rows) * (static_cast<size_t>(columns) + 1));
  for (int32_t m = 0; m < rows; ++m) {
    for (int32_t n = 0; n < columns; ++n) {
      const auto c = ReadCell(image, area.left + n * kGlyphWidth, area.top + m * kGlyphHeight);
      if (!c) {
        throw std::runtime_error("the filter left the cell in row " + std::to_string(m) + ", column " +
                                 std::to_string(n) + " without a glyph");
      }
      text += *c;
    }
    text += '\n';
  }
  return text;
}

}  // namespace gm::text
