#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "cli/Tool.h"

namespace {

// The signal boundary: the handler only records the request, and the tool's
// abort callback and its readers and writers see it between steps.
volatile std::sig_atomic_t stopSignal = 0;

void OnStop(int signal) { stopSignal = signal; }

// A standard stream that was closed keeps its number taken, so that no file
// the tool opens is mistaken for it; used the wrong way round, it fails as a
// closed stream would.
void HoldClosedStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) ::close(held);  // numbers below were open: nothing to hold
  }
}

}  // namespace

int main(int argc, char** argv) {
  HoldClosedStreams();
  // No SA_RESTART: a read or an open waiting on a pipe returns, and the tool
  // cleans up its temporary files before it exits.
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // A reader that goes away is a write error with its own message, not a
  // silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string> args(argv + 1, argv + argc);
  gm::cli::ToolIO io;
  io.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  io.cancel = [] { return stopSignal != 0; };
  io.stopSignal = [] { return static_cast<int>(stopSignal); };
  return gm::cli::RunTool(args, io);
}
