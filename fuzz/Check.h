// A failed property ends the fuzz run the way a sanitizer finding does:
// a line naming the property, then abort, so libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define GM_FUZZ_CHECK(cond)                                                              \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)
