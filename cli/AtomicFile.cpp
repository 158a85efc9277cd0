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
  const std::string folder = Folder(path_);
  const std::string base = BaseName(path_);
  if (base.empty()) throw Failure(kExitOutput, path_, "names a folder, not a file");
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw Failure(kExitOutput, path_, "is a directory");

  std::string pattern = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    throw Failure(kExitOutput, path_, std::string("cannot create a file in ") + folder + ": " + std::strerror(errno));
  }
  temp_ = name.data();
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
  if (::rename(temp_.c_str(), path_.c_str()) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
  committed_ = true;
}

}  // namespace gm::cli
