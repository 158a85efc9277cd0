// An output file that appears whole or not at all: written under a temporary
// name in the destination folder and renamed into place by Commit. Until
// then an existing file of that name is left as it was; a file never
// committed is removed. A path that names a device or a pipe (/dev/stdout,
// /dev/null), and "-" for standard output, is written in place, since
// renaming over it would replace the device: the bytes are held in memory
// and go out at Commit, so a failed run sends nothing, and formats that seek
// while writing work on a pipe too.
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
  void OpenDirect(int device);
  std::string path_;
  std::string temp_;
  std::string final_;  // what the temporary file becomes
  int fd_ = -1;
  int device_ = -1;  // written in place at Commit; fd_ then holds the bytes in memory
  bool direct_ = false;
  bool committed_ = false;
};

// Writes all of `data` to a file, a pipe or a terminal; a pipe whose reader
// has gone fails with its own reason.
void WriteOut(int fd, const char* data, size_t size, const std::string& path);

}  // namespace gm::cli
