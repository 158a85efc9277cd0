// What the tool asks of the terminal it prints to.
#pragma once

#include <string>

namespace gm::cli {

// The terminal's width in characters: from the terminal itself, else
// `columnsVariable` ($COLUMNS) when it is a positive number, else 80.
int TerminalColumns(int fd, const char* columnsVariable);
// Its height in lines, likewise from `linesVariable` ($LINES), else 24.
int TerminalRows(int fd, const char* linesVariable);

}  // namespace gm::cli
