// libtiff reports through callbacks; these keep its first error and its
// latest warning, each as one line, for the tool's own message. A warning
// counts when nothing worse was said: some codecs explain a block they
// cannot decode only as a warning.
#pragma once

#include <tiffio.h>

#include <cstdarg>

namespace gm::cli {

struct TiffMessages {
  char error[256] = {};
  char warning[256] = {};
};

int OnTiffError(TIFF* tif, void* user, const char* module, const char* format, va_list args);
int OnTiffWarning(TIFF* tif, void* user, const char* module, const char* format, va_list args);

}  // namespace gm::cli
