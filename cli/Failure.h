// How the tool fails: one line for people, one exit code for scripts.
#pragma once

#include <stdexcept>
#include <string>

#include "io/Errors.h"

namespace gm::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitInput = 2,      // cannot read or decode the input
  kExitOutput = 3,     // cannot write the output
  kExitFilter = 4,     // the plug-in (or the host) reported an error
  kExitCancelled = 130,
};

// Thrown with the file it concerns and the reason; printed as
// "glyphmosaic: <file>: <reason>" and turned into the exit code.
class Failure : public std::runtime_error {
 public:
  Failure(int exitCode, std::string file, const std::string& reason)
      : std::runtime_error(reason), exitCode_(exitCode), file_(std::move(file)) {}
  int ExitCode() const { return exitCode_; }
  const std::string& File() const { return file_; }

 private:
  int exitCode_;
  std::string file_;
};

using io::CancelCheck;
using io::kStandardInput;
using io::kStandardOutput;

}  // namespace gm::cli
