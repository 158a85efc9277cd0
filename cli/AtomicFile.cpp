#include "cli/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/Failure.h"

namespace gm::cli {

namespace {

std::string Folder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw Failure(kExitOutput, path_, "is a directory");
    if (!S_ISREG(st.st_mode)) {
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd_ < 0) throw Failure(kExitOutput, path_, std::strerror(errno));
      direct_ = true;
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

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFile::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(kExitOutput, path_, std::strerror(errno));
    done += static_cast<size_t>(n);
  }
}

void AtomicFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
  if (!direct_ && ::rename(temp_.c_str(), final_.c_str()) != 0) {
    throw Failure(kExitOutput, path_, std::strerror(errno));
  }
  committed_ = true;
}

}  // namespace gm::cli
