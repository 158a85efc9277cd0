#include "support/ModuleInstance.h"

ModuleHandle moduleInstance = nullptr;

#ifdef _WIN32
// Every notification carries the same handle; storing it each time is harmless
// and keeps the value right whichever notification comes first.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
  moduleInstance = instance;
  return TRUE;
}
#endif
