// UTF-8 as names and titles carry it, whatever bytes they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gm::text {

// The length of the character at `at` (its code point in `code`), or 0 when
// the bytes there are not one: overlong forms, surrogates and values past
// U+10FFFF included.
size_t Utf8Char(std::string_view s, size_t at, uint32_t& code);

// C0 and C1 control characters and DEL.
inline bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

// The text with every control character and every byte that is not UTF-8
// replaced by U+FFFD, for pages that declare themselves UTF-8.
std::string Printable(std::string_view s);

}  // namespace gm::text
