#include "cli/TiffMessages.h"

#include <cstdio>
#include <cstring>

namespace gm::cli {

int OnTiffError(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
  auto* messages = static_cast<TiffMessages*>(user);
  if (messages->error[0] == 0) {  // the first error is the cause, later ones its echoes
    char text[200];
    std::vsnprintf(text, sizeof text, format, args);
    // Some of libtiff's texts span lines; the tool's errors are one line.
    for (char* c = text; *c; ++c) {
      if (static_cast<unsigned char>(*c) < 0x20) *c = ' ';
    }
    // libtiff often starts with the file name, which our line already names.
    const char* name = tif ? TIFFFileName(tif) : nullptr;
    const size_t length = name ? std::strlen(name) : 0;
    const char* reason = text;
    if (length && std::strncmp(text, name, length) == 0 && std::strncmp(text + length, ": ", 2) == 0) reason += length + 2;
    std::snprintf(messages->error, sizeof messages->error, "%s%s%s", module ? module : "", module ? ": " : "", reason);
  }
  return 1;
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace gm::cli
