#include "cli/Terminal.h"

#include <sys/ioctl.h>

#include <charconv>
#include <cstring>

namespace gm::cli {

namespace {

int Measure(int fd, unsigned short winsize::*side, const char* variable, int otherwise) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.*side > 0) return size.*side;
  if (variable) {
    int count = 0;
    const char* end = variable + std::strlen(variable);
    const auto [at, ec] = std::from_chars(variable, end, count);
    if (ec == std::errc() && at == end && count > 0 && count <= 100'000) return count;
  }
  return otherwise;
}

}  // namespace

int TerminalColumns(int fd, const char* columnsVariable) { return Measure(fd, &winsize::ws_col, columnsVariable, 80); }

int TerminalRows(int fd, const char* linesVariable) { return Measure(fd, &winsize::ws_row, linesVariable, 24); }

}  // namespace gm::cli
