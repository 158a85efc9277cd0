#include "cli/Terminal.h"

#include <sys/ioctl.h>

#include <charconv>
#include <cstring>

namespace gm::cli {

int TerminalColumns(int fd, const char* columnsVariable) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (columnsVariable) {
    int columns = 0;
    const char* end = columnsVariable + std::strlen(columnsVariable);
    const auto [at, ec] = std::from_chars(columnsVariable, end, columns);
    if (ec == std::errc() && at == end && columns > 0 && columns <= 100'000) return columns;
  }
  return 80;
}

}  // namespace gm::cli
