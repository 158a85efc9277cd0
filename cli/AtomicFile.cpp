#include "cli/AtomicFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/Failure.h"
#include "cli/Paths.h"
#include "io/Fd.h"

namespace gm::cli {

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  if (path_ == "-") {
    path_ = kStandardOutput;
    OpenDirect(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
    return;
  }
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw Failure(kExitOutput, path_, "is a directory");
    if (!S_ISREG(st.st_mode)) {
      OpenDirect(::open(path_.c_str(), O_WRONLY | O_CLOEXEC));
      return;
    }
  }
  // Through a symbolic link, the file to replace is the link's target.
  std::string target = path_;
  if (char* real = ::realpath(path_.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  const std::string folder = Folder(target);
  const std::string base = BaseName(target);
  if (base.empty()) throw Failure(kExitOutput, path_, "names a folder, not a file");

  std::string pattern = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    throw Failure(kExitOutput, path_, std::string("cannot create a file in ") + folder + ": " + std::strerror(errno));
  }
  temp_ = name.data();
  final_ = target;
  // mkstemp makes the file private; give it the mode a plain create would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, 0666 & ~mask);
}

void AtomicFile::OpenDirect(int device) {
  device_ = device;
  if (device_ < 0) throw Failure(kExitOutput, path_, std::strerror(errno));
  fd_ = static_cast<int>(::memfd_create("glyphmosaic-output", MFD_CLOEXEC));
  if (fd_ < 0) {
    // Thrown from the constructor: the destructor will not close the device.
    const int error = errno;
    ::close(device_);
    device_ = -1;
    throw Failure(kExitOutput, path_, std::strerror(error));
  }
  direct_ = true;
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (device_ >= 0) ::close(device_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFile::Write(const std::string& bytes) { WriteOut(fd_, bytes.data(), bytes.size(), path_); }

void AtomicFile::Commit() {
  if (direct_) {
    if (::lseek(fd_, 0, SEEK_SET) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
    std::vector<char> buffer(1 << 16);
    ssize_t n = 0;
    while ((n = io::ReadFull(fd_, buffer.data(), buffer.size())) != 0) {
      if (n < 0) throw Failure(kExitOutput, path_, std::strerror(errno));
      WriteOut(device_, buffer.data(), static_cast<size_t>(n), path_);
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
  if (!direct_ && ::rename(temp_.c_str(), final_.c_str()) != 0) {
    throw Failure(kExitOutput, path_, std::strerror(errno));
  }
  committed_ = true;
}

void WriteOut(int fd, const char* data, size_t size, const std::string& path) {
  const int error = io::WriteAll(fd, data, size);
  if (error == EPIPE) throw Failure(kExitOutput, path, "the reader went away (broken pipe)");
  if (error) throw Failure(kExitOutput, path, std::strerror(error));
}

}  // namespace gm::cli
