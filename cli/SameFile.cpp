#include "cli/SameFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <variant>
#include <vector>

#include "cli/Failure.h"
#include "cli/Paths.h"
#include "cli/Quote.h"

namespace gm::cli {

namespace {

struct Inode {
  dev_t device;
  ino_t inode;
  bool operator==(const Inode&) const = default;
};

// An existing file by its inode, a file to be created by its resolved path;
// nothing for devices and pipes.
using Identity = std::variant<std::monostate, Inode, std::string>;

// Where a missing file would be created: its folder resolved, and through a
// dangling symbolic link, the link's target (as the output files follow it).
std::string ResolveMissing(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) break;
    const std::string link(target, static_cast<size_t>(n));
    path = link[0] == '/' ? link : Folder(path) + "/" + link;
  }
  std::string folder = Folder(path);
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    folder = real;
    std::free(real);
  }
  return folder + "/" + BaseName(path);
}

Identity Identify(const NamedFile& file) {
  struct stat st {};
  const bool input = std::string(file.role) == "INPUT";
  const int found = file.path == "-" ? ::fstat(input ? STDIN_FILENO : STDOUT_FILENO, &st)
                                     : ::stat(file.path.c_str(), &st);
  if (found == 0) {
    if (!S_ISREG(st.st_mode)) return std::monostate{};
    return Inode{st.st_dev, st.st_ino};
  }
  if (file.path == "-") return std::monostate{};
  return ResolveMissing(file.path);
}

}  // namespace

void RefuseSameFiles(std::span<const NamedFile> files) {
  std::vector<Identity> ids;
  for (const NamedFile& f : files) ids.push_back(Identify(f));
  for (size_t i = 0; i < files.size(); ++i) {
    for (size_t j = i + 1; j < files.size(); ++j) {
      if (std::holds_alternative<std::monostate>(ids[i]) || ids[i] != ids[j]) continue;
      const auto named = [](const NamedFile& f) {
        if (f.path != "-") return f.path;
        return std::string(std::string(f.role) == "INPUT" ? kStandardInput : kStandardOutput);
      };
      throw Failure(kExitUsage, named(files[j]),
                    std::string(files[j].role) + " is the same file as " + files[i].role + " " +
                        Failure(0, named(files[i]), "").Shown() + "; nothing was written");
    }
  }
}

}  // namespace gm::cli
