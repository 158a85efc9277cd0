// libtiff reports through callbacks; these keep its first error as one line
// for the tool's own message, and drop its warnings.
#pragma once

#include <tiffio.h>

#include <cstdarg>

namespace gm::cli {

struct TiffMessages {
  char error[256] = {};
};

int OnTiffError(TIFF* tif, void* user, const char* module, const char* format, va_list args);
int OnTiffWarning(TIFF* tif, void* user, const char* module, const char* format, va_list args);

}  // namespace gm::cli
