// An output file that appears whole or not at all: written under a temporary
// name in the destination folder and renamed into place by Commit. Until
// then an existing file of that name is left as it was; a file never
// committed is removed.
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
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace gm::cli
