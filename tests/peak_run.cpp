// peak_run FILE PROGRAM ARGS...: runs PROGRAM and writes its own peak
// resident size (KiB) to FILE. A child's peak as wait4 reports it starts
// from the memory of the process it was spawned from, so the tests spawn
// this small process and let it spawn the tool. Signals pass on to the
// tool; the exit status is the tool's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <initializer_list>

namespace {

volatile pid_t child = 0;

void Forward(int signal) {
  if (child > 0) ::kill(child, signal);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 127;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, Forward);
  child = ::fork();
  if (child == 0) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
    ::execv(argv[2], argv + 2);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, 0, &usage) < 0) {
  }
  if (std::FILE* f = std::fopen(argv[1], "w")) {
    std::fprintf(f, "%ld\n", usage.ru_maxrss);
    std::fclose(f);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
