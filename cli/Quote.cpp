#include "cli/Quote.h"

#include <cstdint>
#include <cstdio>

#include "cli/Failure.h"

namespace gm::cli {

namespace {

// The length of the UTF-8 character at `at`, or 0 when the bytes there are
// not one (overlong forms, surrogates and values past U+10FFFF included).
size_t CharLength(std::string_view s, size_t at, uint32_t& code) {
  const auto b = static_cast<uint8_t>(s[at]);
  size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
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

bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

// Characters a shell would not take literally; # and ~ only in front.
bool IsSpecial(char c, bool first) {
  switch (c) {
    case ' ': case '!': case '"': case '$': case '&': case '\'': case '(': case ')': case '*': case ';':
    case '<': case '=': case '>': case '?': case '[': case '\\': case '^': case '`': case '|':
      return true;
    case '#': case '~':
      return first;
    default:
      return false;
  }
}

void Escape(uint8_t byte, std::string& out) {
  static const char kNamed[] = "abtnvfr";  // \a is 7, \r is 13
  if (byte >= 7 && byte <= 13) {
    out += '\\';
    out += kNamed[byte - 7];
  } else if (byte == 0x1B) {
    out += "\\e";
  } else {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    out += hex;
  }
}

}  // namespace

std::string Quote(std::string_view name) {
  if (name.empty()) return "''";
  bool special = false, escape = false, apostrophe = false, doubleQuoteSpecial = false;
  for (size_t i = 0; i < name.size();) {
    uint32_t code = 0;
    const size_t n = CharLength(name, i, code);
    if (n == 0 || IsControl(code)) {
      escape = true;
      i += n == 0 ? 1 : n;
      continue;
    }
    if (n == 1) {
      const char c = name[i];
      special = special || IsSpecial(c, i == 0);
      apostrophe = apostrophe || c == '\'';
      doubleQuoteSpecial = doubleQuoteSpecial || c == '"' || c == '$' || c == '`' || c == '\\' || c == '!';
    }
    i += n;
  }
  if (!special && !escape) return std::string(name);
  if (!escape && apostrophe && !doubleQuoteSpecial) {
    std::string out(1, '"');
    out.append(name);
    out += '"';
    return out;
  }

  // Single quotes, left for a $'...' run wherever bytes must be escaped.
  std::string out = "'";
  bool inEscape = false;
  for (size_t i = 0; i < name.size();) {
    uint32_t code = 0;
    const size_t n = CharLength(name, i, code);
    if (n == 0 || IsControl(code)) {
      if (!inEscape) out += "'$'";
      inEscape = true;
      for (size_t k = 0; k < (n == 0 ? 1 : n); ++k) Escape(static_cast<uint8_t>(name[i + k]), out);
      i += n == 0 ? 1 : n;
      continue;
    }
    if (inEscape) out += "''";
    inEscape = false;
    if (name[i] == '\'') {
      out += "'\\''";
    } else {
      out.append(name, i, n);
    }
    i += n;
  }
  out += '\'';
  return out;
}

std::string Failure::Shown() const {
  if (labelled_ || file_ == kStandardInput || file_ == kStandardOutput) return file_;
  return Quote(file_);
}

}  // namespace gm::cli
