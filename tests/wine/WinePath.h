// Paths that CMake hands to the wine tests are Unix paths; wine shows the
// Unix file system as drive Z:.
#pragma once

#include <string>

namespace gm::test {

inline std::string WinePath(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

}  // namespace gm::test
