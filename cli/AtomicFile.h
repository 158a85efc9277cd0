// An output file that appears whole or not at all: written under a temporary
// name in the destination folder, flushed to the disk, and renamed into
// place by Commit. Until then an existing file of that name is left as it
// was; a file never committed is removed. The new file keeps the mode, owner
// and group of the one it replaces. A path that names a device or a pipe
// (/dev/stdout, /dev/null), and "-" for standard output, is written in
// place, since renaming over it would replace the device: the bytes are held
// in memory and go out at Commit, so a failed run sends nothing, and formats
// that seek while writing work on a pipe too.
#pragma once

#include <string>

#include "cli/Failure.h"
#include "io/Fd.h"

namespace gm::cli {

class AtomicFile {
 public:
  // Throws Failure (exit 3) when the folder takes no new file, or when the
  // path leads through a link that another user planted in a shared folder;
  // (exit 130) when opening a pipe that waits for its reader is cancelled.
  AtomicFile(std::string path, const CancelCheck& cancel);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  int Fd() const { return fd_.Get(); }
  const std::string& Path() const { return path_; }
  bool Direct() const { return direct_; }
  void Write(const std::string& bytes);
  // Everything written is on the disk (a file) or ready to go (a device),
  // and nothing known stands in the way of Commit.
  void Finish();
  // The finished file takes its place; a device gets its bytes.
  void Commit();

 private:
  void OpenDirect(int device);
  std::string path_;
  std::string temp_;
  std::string final_;  // what the temporary file becomes
  io::UniqueFd fd_;
  io::UniqueFd device_;  // written in place at Commit; fd_ then holds the bytes in memory
  bool direct_ = false;
  bool committed_ = false;
};

// Writes all of `data` to a file, a pipe or a terminal; a pipe whose reader
// has gone fails with its own reason.
void WriteOut(int fd, const char* data, size_t size, const std::string& path);

// Where a path leads, each link on the way followed as the kernel follows
// it, but a link in a sticky, world-writable folder is followed only when it
// belongs to the follower or to the folder's owner (the rule the kernel's
// protected_symlinks setting enforces), whatever that setting is here.
// Throws Failure (exit 3) for such a link.
std::string FollowLinks(const std::string& path);

}  // namespace gm::cli
