// Some format libraries, as Debian builds them, print why they fail on
// standard error (libjxl's failures, dav1d's input checks under libheif),
// which would split the tool's one line. Standard error is /dev/null while
// one of them works: nothing else runs then.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include "io/Fd.h"

namespace gm::io {

class QuietStderr {
 public:
  QuietStderr() {
    const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (null) saved_.Reset(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    if (saved_) ::dup2(null.Get(), STDERR_FILENO);
  }
  ~QuietStderr() {
    if (saved_) ::dup2(saved_.Get(), STDERR_FILENO);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  UniqueFd saved_;
};

}  // namespace gm::io
