#include "cli/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "cli/Paths.h"
#include "cli/Quote.h"

namespace gm::cli {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows

// The temporary name beside the target: named after it when that fits in a
// folder entry, else a short name of its own.
std::string TempPattern(const std::string& folder, const std::string& base) {
  const std::string named = "." + base + ".XXXXXX";
  return folder + "/" + (named.size() <= NAME_MAX ? named : ".glyphmosaic.XXXXXX");
}

void SyncFolder(const std::string& folder) {
  const io::UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.Get());
}

}  // namespace

std::string FollowLinks(const std::string& path) {
  std::string resolved;
  if (path.empty() || path[0] != '/') {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) throw Failure(kExitOutput, path, std::strerror(errno));
    resolved = cwd;
  }
  std::vector<std::string> rest;  // components still to walk, the next one last
  auto push = [&rest](const std::string& p) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= p.size();) {
      const size_t slash = std::min(p.find('/', start), p.size());
      if (slash > start) parts.push_back(p.substr(start, slash - start));
      start = slash + 1;
    }
    rest.insert(rest.end(), parts.rbegin(), parts.rend());
  };
  push(path);
  int links = 0;
  while (!rest.empty()) {
    const std::string part = rest.back();
    rest.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      resolved = Folder(resolved.empty() ? "/" : resolved);
      if (resolved == "/") resolved.clear();
      continue;
    }
    const std::string next = resolved + "/" + part;
    struct stat link {};
    if (::lstat(next.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
      resolved = next;  // a folder, the file, or nothing yet: its creation will say
      continue;
    }
    struct stat folder {};
    const std::string here = resolved.empty() ? "/" : resolved;
    if (::stat(here.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) &&
        link.st_uid != ::geteuid() && link.st_uid != folder.st_uid) {
      throw Failure(kExitOutput, path,
                    "leads through a link another user made in the shared folder " + Quote(here) +
                        "; it is not followed");
    }
    if (++links > kMaxLinks) throw Failure(kExitOutput, path, std::strerror(ELOOP));
    char target[PATH_MAX];
    const ssize_t n = ::readlink(next.c_str(), target, sizeof target - 1);
    if (n < 0) throw Failure(kExitOutput, path, std::strerror(errno));
    const std::string to(target, static_cast<size_t>(n));
    if (!to.empty() && to[0] == '/') resolved.clear();
    push(to);
  }
  // Without a link on the way the path stays as the user wrote it.
  if (links == 0) return path;
  return resolved.empty() ? "/" : resolved;
}

AtomicFile::AtomicFile(std::string path, const CancelCheck& cancel) : path_(std::move(path)) {
  if (path_ == "-") {
    path_ = kStandardOutput;
    OpenDirect(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
    return;
  }
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw Failure(kExitOutput, path_, "is a directory");
    if (!S_ISREG(st.st_mode)) {
      // A pipe waits here for its reader; Ctrl-C interrupts the wait.
      const int device = io::RetryInterrupted([&] { return ::open(path_.c_str(), O_WRONLY | O_CLOEXEC); }, cancel);
      if (device < 0 && errno == EINTR) throw Failure(kExitCancelled, path_, "cancelled");
      OpenDirect(device);
      return;
    }
  }
  // Through a symbolic link, the file to replace is the link's target.
  const std::string target = FollowLinks(path_);
  const std::string folder = Folder(target);
  const std::string base = BaseName(target);
  if (base.empty()) throw Failure(kExitOutput, path_, "names a folder, not a file");

  std::string pattern = TempPattern(folder, base);
  fd_.Reset(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd_) {
    throw Failure(kExitOutput, path_, "cannot create a file in " + Quote(folder) + ": " + std::strerror(errno));
  }
  temp_ = pattern;
  final_ = target;
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    // As the file it replaces: owner and group where this process may give
    // them (which clears set-id bits), then the mode.
    if (::fchown(fd_.Get(), old.st_uid, old.st_gid) != 0) (void)::fchown(fd_.Get(), static_cast<uid_t>(-1), old.st_gid);
    ::fchmod(fd_.Get(), old.st_mode & 07777);
    return;
  }
  // mkstemp makes the file private; give it the mode a plain create would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_.Get(), 0666 & ~mask);
}

void AtomicFile::OpenDirect(int device) {
  device_.Reset(device);
  if (!device_) throw Failure(kExitOutput, path_, std::strerror(errno));
  fd_.Reset(static_cast<int>(::memfd_create("glyphmosaic-output", MFD_CLOEXEC)));
  if (!fd_) throw Failure(kExitOutput, path_, std::strerror(errno));
  direct_ = true;
}

AtomicFile::~AtomicFile() {
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFile::Write(const std::string& bytes) { WriteOut(fd_.Get(), bytes.data(), bytes.size(), path_); }

void AtomicFile::Finish() {
  if (direct_) return;
  // On the disk before it takes the name: after a power cut the name holds
  // the old file or the whole new one, never an empty one.
  if (::fsync(fd_.Get()) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
  if (::close(fd_.Release()) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
  // A folder made under the name since the start would fail the rename after
  // other outputs had taken their places.
  struct stat st {};
  if (::stat(final_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw Failure(kExitOutput, path_, "is a directory");
}

void AtomicFile::Commit() {
  if (direct_) {
    if (::lseek(fd_.Get(), 0, SEEK_SET) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
    std::vector<char> buffer(1 << 16);
    ssize_t n = 0;
    while ((n = io::ReadFull(fd_.Get(), buffer.data(), buffer.size())) != 0) {
      if (n < 0) throw Failure(kExitOutput, path_, std::strerror(errno));
      WriteOut(device_.Get(), buffer.data(), static_cast<size_t>(n), path_);
    }
    fd_.Reset();
    committed_ = true;
    return;
  }
  if (::rename(temp_.c_str(), final_.c_str()) != 0) throw Failure(kExitOutput, path_, std::strerror(errno));
  committed_ = true;
  SyncFolder(Folder(final_));
}

void WriteOut(int fd, const char* data, size_t size, const std::string& path) {
  const int error = io::WriteAll(fd, data, size);
  if (error == EPIPE) throw Failure(kExitOutput, path, "the reader went away (broken pipe)");
  if (error) throw Failure(kExitOutput, path, std::strerror(error));
}

}  // namespace gm::cli
