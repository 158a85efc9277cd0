#include "host/HostSuites.h"

namespace gm::host {

namespace {
constexpr int32_t kUnknownPlugin = -1;  // the reference names no plug-in of this host
AccessSuiteHost* activeAccess = nullptr;
}  // namespace

struct AccessSuiteHost::Callbacks {
  static int32_t GetPluginAccess(void* plugin, void** access) {
    AccessSuiteHost* host = activeAccess;
    if (!host || !access) return kUnknownPlugin;
    ++host->accessCalls;
    if (host->accessError) return host->accessError;
    if (host->accessLeftNull) return 0;
    auto found = host->plugins_.find(plugin);
    if (found == host->plugins_.end()) return kUnknownPlugin;
    *access = &found->second;
    return 0;
  }
  static int32_t GetAccessInfo(void* access, Info* info) {
    AccessSuiteHost* host = activeAccess;
    if (!host || !access || !info) return kUnknownPlugin;
    ++host->infoCalls;
    if (host->infoError) return host->infoError;
    *info = static_cast<Entry*>(access)->info;
    return 0;
  }
  static void Unused() {}
};

AccessSuiteHost::AccessSuiteHost() { activeAccess = this; }

AccessSuiteHost::~AccessSuiteHost() {
  if (activeAccess == this) activeAccess = nullptr;
}

const AccessSuiteHost::Table* AccessSuiteHost::Suite() const {
  static const Table table{Callbacks::Unused, Callbacks::Unused, Callbacks::GetPluginAccess, Callbacks::Unused,
                           Callbacks::Unused, Callbacks::Unused, Callbacks::GetAccessInfo};
  return &table;
}

void AccessSuiteHost::AddPlugin(void* plugin, uintptr_t firstWord, uintptr_t secondWord) {
  plugins_[plugin] = Entry{Info{{firstWord, secondWord, 0}}};
}

}  // namespace gm::host
