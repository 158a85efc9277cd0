// Names as messages show them: a name of printable characters that a shell
// takes literally stays as it is; any other is quoted the way
// `ls --quoting-style=shell-escape` does it, so that control bytes never
// reach the terminal and a newline cannot forge a second message line.
#pragma once

#include <string>
#include <string_view>

namespace gm::cli {

// "photo.png"; 'my photo.png'; "it's.png"; 'a'$'\n''b'; ''$'\e'']0;x'; ''$'\xff''.png'.
std::string Quote(std::string_view name);

}  // namespace gm::cli
