#include "cli/Quote.h"

#include <cstdint>
#include <cstdio>

#include "cli/Failure.h"
#include "text/Utf8.h"

namespace gm::cli {

namespace {

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
    const size_t n = text::Utf8Char(name, i, code);
    if (n == 0 || text::IsControl(code)) {
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
    const size_t n = text::Utf8Char(name, i, code);
    if (n == 0 || text::IsControl(code)) {
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
