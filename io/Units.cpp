#include "io/Units.h"

#include <cctype>
#include <cstdio>

namespace gm::io {

std::string FormatBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 6) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  }
  return text;
}

std::optional<uint64_t> ParseBytes(const std::string& text) {
  size_t i = 0;
  uint64_t value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++i;
  }
  if (i == 0) return std::nullopt;
  std::string suffix;
  for (; i < text.size(); ++i) suffix += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  int shift = 0;
  if (!suffix.empty() && suffix.back() == 'B') suffix.pop_back();
  if (!suffix.empty() && suffix.back() == 'I') suffix.pop_back();
  if (suffix == "K") shift = 10;
  else if (suffix == "M") shift = 20;
  else if (suffix == "G") shift = 30;
  else if (suffix == "T") shift = 40;
  else if (!suffix.empty()) return std::nullopt;
  if (shift && value > (UINT64_MAX >> shift)) return std::nullopt;
  return value << shift;
}

}  // namespace gm::io
