// The module's own instance handle, for loading its resources.
#pragma once

#ifdef _WIN32
#include <windows.h>
using ModuleHandle = HINSTANCE;
#else
using ModuleHandle = void*;
#endif

extern ModuleHandle moduleInstance;
