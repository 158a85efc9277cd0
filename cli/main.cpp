#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "cli/Tool.h"

namespace {

// The signal boundary: the handler only records the request, and the tool's
// abort callback reads it between tile rows.
volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  // A reader that goes away is a write error with its own message, not a
  // silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string> args(argv + 1, argv + argc);
  gm::cli::ToolIO io;
  io.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  io.cancel = [] { return interrupted != 0; };
  return gm::cli::RunTool(args, io);
}
