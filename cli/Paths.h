// A path's folder and file name, as the output files and the same-file check
// both need them: by the last slash, without touching the file system.
#pragma once

#include <string>

namespace gm::cli {

inline std::string Folder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

inline std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace gm::cli
