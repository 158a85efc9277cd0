// The module's own instance handle, for loading its resources.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
using ModuleHandle = HINSTANCE;
#else
using ModuleHandle = void*;
#endif

extern ModuleHandle moduleInstance;

// The host's access suite, as far as the module uses it: the 3rd function
// turns a plug-in reference into an access reference, the 7th describes it.
using AccessRef = void*;
// Either of the first two words may be the module's handle; pointer-sized so
// that a 64-bit host can put a whole handle in them.
struct AccessInfo {
  uintptr_t words[3];
};
struct AccessSuite {
  void (*unused1)();
  void (*unused2)();
  int32_t (*GetPluginAccess)(void* plugin, AccessRef* access);
  void (*unused4)();
  void (*unused5)();
  void (*unused6)();
  int32_t (*GetAccessInfo)(AccessRef access, AccessInfo* info);
};

// The stored handle for a null plug-in reference; otherwise the host's
// handle for that plug-in, which then replaces the stored one.
ModuleHandle GetModuleInstance(void* plugin);
