#include "cli/TiffMessages.h"

#include <cstdio>
#include <cstring>

namespace gm::cli {

namespace {

void Keep(char (&to)[256], TIFF* tif, const char* module, const char* format, va_list args) {
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
  std::snprintf(to, sizeof to, "%s%s%s", module ? module : "", module ? ": " : "", reason);
}

}  // namespace

int OnTiffError(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
  auto* messages = static_cast<TiffMessages*>(user);
  // The first error is the cause, later ones its echoes.
  if (messages->error[0] == 0) Keep(messages->error, tif, module, format, args);
  return 1;
}

int OnTiffWarning(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
  if (user) Keep(static_cast<TiffMessages*>(user)->warning, tif, module, format, args);
  return 1;
}

}  // namespace gm::cli
