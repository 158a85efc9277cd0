// A PE32 module loaded into the emulated process the way a loader does it:
// headers and sections mapped with their page protections, base relocations
// applied at an address other than the preferred one, every import bound to
// a native function, thread-local storage set up, then the TLS callbacks and
// the entry point called with process attach (and detach at the end).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/win32/Machine.h"

namespace gm::win32 {

// Gives the native function for an import of `dll` (lower case) named `name`.
using ImportResolver = std::function<Native(const std::string& dll, const std::string& name)>;

class PeModule {
 public:
  // Loads the file at `base`, which must differ from the preferred base.
  PeModule(Machine& machine, const std::string& path, uint32_t base, const ImportResolver& resolve);

  void Attach();  // TLS callbacks, then the entry point, with process attach
  void Detach();  // the same with process detach; once only

  uint32_t Export(const std::string& name) const;  // 0 when absent
  uint32_t base() const { return base_; }
  uint32_t preferredBase() const { return preferredBase_; }
  size_t relocationsApplied() const { return relocations_; }
  size_t importsBound() const { return imports_; }
  bool attached() const { return attached_; }
  size_t tlsCallbacksRun() const { return tlsCallbacksRun_; }

 private:
  void MapSections(const std::vector<uint8_t>& file);
  void Relocate();
  void BindImports(const ImportResolver& resolve);
  void ReadExports();
  void NotifyAll(uint32_t reason);
  uint32_t Dir(int index) const { return directories_[index].first; }
  uint32_t DirSize(int index) const { return directories_[index].second; }

  Machine& machine_;
  std::string name_;
  uint32_t base_ = 0;
  uint32_t preferredBase_ = 0;
  uint32_t imageSize_ = 0;
  uint32_t entryRva_ = 0;
  uint32_t headerBytes_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> directories_;  // rva, size
  struct Section {
    std::string name;
    uint32_t rva, virtualSize, rawSize, rawOffset, characteristics;
  };
  std::vector<Section> sections_;
  std::map<std::string, uint32_t> exports_;
  size_t relocations_ = 0;
  size_t imports_ = 0;
  size_t tlsCallbacksRun_ = 0;
  bool attached_ = false;
  bool detached_ = false;
};

}  // namespace gm::win32
