// A typo must not cost a user the original: no run may write one of its
// files over another, least of all over its input.
#pragma once

#include <span>
#include <string>

namespace gm::cli {

struct NamedFile {
  const char* role;  // "INPUT", "OUTPUT", "--text", "--html"
  std::string path;  // "-" stands for standard input or output
};

// Throws Failure (exit 1) naming both when two of the files are one: the
// same device and inode, or, for files not there yet, the same resolved
// path. Devices and pipes are exempt, "-" among them.
void RefuseSameFiles(std::span<const NamedFile> files);

}  // namespace gm::cli
