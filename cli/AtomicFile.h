// An output file that appears whole or not at all: written under a temporary
// name in the destination folder and renamed into place by Commit. Until
// then an existing file of that name is left as it was; a file never
// committed is removed. A path that names a device or a pipe (/dev/stdout,
// /dev/null) is written in place: renaming over it would replace the device.
#pragma once

#include <string>

namespace gm::cli {

class AtomicFile {
 public:
  // Throws Failure (exit 3) when the folder takes no new file.
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  void Write(const std::string& bytes);
  void Commit();

 private:
  std::string path_;
  std::string temp_;
  std::string final_;  // what the temporary file becomes
  int fd_ = -1;
  bool direct_ = false;
  bool committed_ = false;
};

}  // namespace gm::cli
