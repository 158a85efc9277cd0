// Byte counts as people read and write them: "4 GiB", "512M".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace gm::io {

std::string FormatBytes(uint64_t bytes);
// A count with an optional K, M, G or T suffix (powers of 1024, "iB" or "B" allowed).
std::optional<uint64_t> ParseBytes(const std::string& text);

}  // namespace gm::io
