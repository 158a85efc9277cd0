// The command line: glyphmosaic [options] INPUT OUTPUT, or --text FILE INPUT [OUTPUT].
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "abi/HostTypes.h"

namespace gm::cli {

struct Options {
  std::string input;
  std::optional<std::string> output;
  std::optional<std::string> text;  // "-" is standard output
  std::optional<VRect> rect;
  int16_t tileWidth = 0;  // 0: the host's usual tile
  int16_t tileHeight = 0;
  std::optional<int32_t> columns;
  std::optional<uint64_t> maxMemory;
  int quality = 95;
  bool quiet = false;
  bool about = false;
  bool version = false;
  bool help = false;
};

// Throws Failure (exit 1) naming the offending argument.
Options ParseOptions(std::span<const std::string> args);

const char* UsageText();

}  // namespace gm::cli
