#include "text/Utf8.h"

namespace gm::text {

size_t Utf8Char(std::string_view s, size_t at, uint32_t& code) {
  const auto b = static_cast<uint8_t>(s[at]);
  const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  code = n == 1 ? b : b & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    const auto c = static_cast<uint8_t>(s[at + i]);
    if ((c & 0xC0) != 0x80) return 0;
    code = code << 6 | (c & 0x3F);
  }
  static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

std::string Printable(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    uint32_t code = 0;
    const size_t n = Utf8Char(s, i, code);
    if (n == 0 || IsControl(code)) {
      out += "\xEF\xBF\xBD";
      i += n == 0 ? 1 : n;
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace gm::text
