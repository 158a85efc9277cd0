// Extra exports of GlyphMosaicSupportTest.8bf: they run inside the module, so
// everything they allocate goes through the module's own operators. Raised
// values are caught here; nothing is thrown across the module's boundary.
#include <cstdint>
#include <string>

#include "support/SuiteHolder.h"

struct GrownString {
  uint64_t capacity;
  uint64_t dataAddress;
};

// Grows a string one character at a time to the given length, then lets it go.
extern "C" int SupportTestGrowString(uint32_t length, GrownString* out) {
  try {
    std::string text;
    for (uint32_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
    out->capacity = text.capacity();
    out->dataAddress = reinterpret_cast<uintptr_t>(text.data());
    return text.size() == length ? 0 : -1;
  } catch (int16_t code) {
    return code;
  }
}

// Gets a holder's suite by its number in construction order (1 to 16).
extern "C" uint32_t SupportTestAcquire(int number) {
  SuiteHolder* const holders[] = {
      &suiteDF135115, &suiteBC1E4D70,    &suiteDF135117,     &suiteDF135116,    &suite61E608B0, &uiHooksSuite,
      &handleSuite,   &zstringSuite,     &accessSuite,       &getFileListSuite, &bufferSuite,   &channelPortsSuite,
      &runtimeSuite,  &propertySuite,    &aliasUtilitySuite, &resourceSuite,
  };
  if (number < 1 || number > 16) return 1;
  try {
    holders[number - 1]->Get();
    return 0;
  } catch (uint32_t code) {
    return code;
  }
}

// Allocates with new[] and never gives the block back, for the leak report at unload.
extern "C" void* SupportTestLeak(uint32_t size) {
  try {
    return new char[size];
  } catch (int16_t) {
    return nullptr;
  }
}
