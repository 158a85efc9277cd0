// The module's own instance handle, for loading its resources.
#pragma once

#ifdef _WIN32
#include <windows.h>
using ModuleHandle = HINSTANCE;
#else
using ModuleHandle = void*;
#endif

extern ModuleHandle moduleInstance;

// The stored handle for a null plug-in reference; otherwise the host's
// handle for that plug-in, which then replaces the stored one.
ModuleHandle GetModuleInstance(void* plugin);
