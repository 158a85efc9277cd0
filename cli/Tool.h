// The whole command: options in, exit code out. main() only adds the signal
// handling; tests can run it in-process.
#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "cli/Failure.h"

namespace gm::cli {

struct ToolIO {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool errIsTerminal = false;  // draw a progress bar
  CancelCheck cancel;          // read by the host's abortProc and the codecs
  std::function<int()> stopSignal;  // the signal that asked to stop, if any
};

int RunTool(std::span<const std::string> args, const ToolIO& io);

}  // namespace gm::cli
