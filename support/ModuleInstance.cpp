#include "support/ModuleInstance.h"

#include "abi/Suites.h"
#include "support/SuiteHolder.h"

ModuleHandle moduleInstance = nullptr;

#ifdef _WIN32
// Every notification carries the same handle; storing it each time is harmless
// and keeps the value right whichever notification comes first.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
  moduleInstance = instance;
  return TRUE;
}
#endif

ModuleHandle GetModuleInstance(void* plugin) {
  if (!plugin) return moduleInstance;
  const auto* access = static_cast<const AccessSuite*>(accessSuite.Get());
  AccessRef ref = nullptr;
  if (access->GetPluginAccess(plugin, &ref) != 0 || !ref) return moduleInstance;
  AccessInfo info{};
  if (access->GetAccessInfo(ref, &info) != 0) {
    moduleInstance = nullptr;
    return nullptr;
  }
  const uintptr_t handle = info.words[1] ? info.words[1] : info.words[0];
  moduleInstance = reinterpret_cast<ModuleHandle>(handle);
  return moduleInstance;
}
