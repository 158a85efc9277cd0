// Named suites a host offers beside the basic suite, for FilterHost::OfferSuite.
// Each keeps what a real host keeps and counts what the plug-in asked of it, so
// tests can see the calls; the C tables reach the most recently made instance.
#pragma once

#include <cstdint>
#include <map>

namespace gm::host {

// "SP Access Suite", version 3: of its functions the plug-in uses the 3rd
// (plug-in reference to access reference) and the 7th (access information).
class AccessSuiteHost {
 public:
  struct Info {
    uintptr_t words[3];
  };
  struct Table {
    void (*unused1)();
    void (*unused2)();
    int32_t (*GetPluginAccess)(void* plugin, void** access);
    void (*unused4)();
    void (*unused5)();
    void (*unused6)();
    int32_t (*GetAccessInfo)(void* access, Info* info);
  };

  AccessSuiteHost();
  ~AccessSuiteHost();
  AccessSuiteHost(const AccessSuiteHost&) = delete;
  AccessSuiteHost& operator=(const AccessSuiteHost&) = delete;

  const Table* Suite() const;

  // A plug-in the host knows, and the two handle words it reports for it.
  void AddPlugin(void* plugin, uintptr_t firstWord, uintptr_t secondWord);
  // Fault injection: a failing 3rd or 7th function, or a 3rd that succeeds with no reference.
  int32_t accessError = 0;
  bool accessLeftNull = false;
  int32_t infoError = 0;

  int accessCalls = 0;
  int infoCalls = 0;

 private:
  struct Entry {
    Info info;
  };
  std::map<void*, Entry> plugins_;
  struct Callbacks;
};

}  // namespace gm::host
