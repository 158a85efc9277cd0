// The command line: glyphmosaic [options] INPUT [OUTPUT]. INPUT alone prints
// the art; "-" stands for standard input or output.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "abi/HostTypes.h"
#include "cli/Failure.h"
#include "io/Formats.h"

namespace gm::cli {

struct Options {
  std::string input;
  std::optional<std::string> output;
  std::optional<std::string> text;  // "-" is standard output
  std::optional<std::string> html;
  const io::Codec* format = nullptr;  // of OUTPUT, whatever its name
  bool artToTerminal = false;       // INPUT alone: the text goes to standard output, fitted to a terminal
  bool colour = false;
  bool noRotate = false;
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
