// Stands in for the plug-in in GIMP's plug-ins folder, for the tests: runs
// the real one (the same path with -real added) with GIMP's arguments and
// descriptors, then adds its peak resident memory in KiB, as a line, to the
// file GM_PEAK_LOG names.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

int main(int, char** argv) {
  const std::string real = std::string(argv[0]) + "-real";
  argv[0] = const_cast<char*>(real.c_str());
  pid_t pid = 0;
  if (posix_spawn(&pid, real.c_str(), nullptr, nullptr, argv, environ) != 0) return 127;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) return 127;
  if (const char* path = std::getenv("GM_PEAK_LOG")) {
    if (std::FILE* log = std::fopen(path, "a")) {
      std::fprintf(log, "%ld\n", usage.ru_maxrss);
      std::fclose(log);
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
