// A host application for the Win32 module, emulated: one process holding the
// loaded module, and the host's side of every phase. The records lie at the
// Win32 offsets in emulated memory as plain bytes, so nothing here shares a
// declaration with the module; the callbacks and suite functions are cdecl
// natives; each pixel buffer ends against an unmapped page.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/FilterHost.h"
#include "io/Image.h"
#include "tests/win32/Machine.h"
#include "tests/win32/PeModule.h"
#include "tests/win32/Win32Api.h"

namespace gm::win32 {

// Where the module is loaded: its preferred base is elsewhere, so every
// relocation must be applied for it to run at all.
constexpr uint32_t kLoadBase = 0x10000000;

// What the module asked of a basic suite (1 or 2), or wrote to the debugger (0).
struct HostEvent {
  int suite;
  std::string what;  // acquire, release, allocate, free, debug
  std::string name;
  int32_t version;
  uint32_t size;
  uint32_t block;
};

class EmulatedProcess {
 public:
  // Loads the module and runs its start-up; `environment` is what getenv
  // sees; `withheld` names system functions ("dll!name") left unimplemented.
  explicit EmulatedProcess(const std::string& modulePath, std::map<std::string, std::string> environment = {},
                           const std::vector<std::string>& withheld = {});
  ~EmulatedProcess();
  EmulatedProcess(const EmulatedProcess&) = delete;
  EmulatedProcess& operator=(const EmulatedProcess&) = delete;

  Machine& machine() { return *machine_; }
  Win32Api& api() { return *api_; }
  PeModule& module() { return *module_; }
  uint32_t Export(const std::string& name) const;

  // Process detach: the module's clean-up runs.
  void Unload() { module_->Detach(); }

  // The address of basic suite 1 or 2; both record what they are asked.
  uint32_t BasicSuite(int number) const { return suites_[number - 1]; }
  std::vector<HostEvent> events;
  std::vector<HostEvent> Events(const std::string& what) const;

  // PluginMain(selector, record, &data, &result); returns the result.
  int16_t CallEntry(int16_t selector, uint32_t record);
  // A Parameters call with a zeroed record naming `suite`: hands the suite over.
  void HandOver(uint32_t suite);

  // A whole filter run as the native host makes it, with the same options.
  host::RunReport Run(Image& image, const host::RunOptions& options);
  // What the last run left in the record that the report does not show.
  struct RecordState {
    bool used32 = false;             // the module took the 32-bit coordinates
    int32_t maxSpace = -1;           // after Prepare
    int32_t bufferSpace = -1;        // after Prepare
    bool untouchedFieldsZero = false;  // inRect, maskRect, floatCoord, inData
  };
  RecordState lastRecord;
  int16_t About();

 private:
  struct RunState;
  void AddHostFunctions();
  VRect OutRect(const RunState& run) const;
  int16_t Deliver(RunState& run);
  void WriteBack(RunState& run);

  std::unique_ptr<Machine> machine_;
  std::unique_ptr<Win32Api> api_;
  std::unique_ptr<PeModule> module_;
  uint32_t suites_[2] = {};
  uint32_t dummySuite_ = 0;
  uint32_t abortProc_ = 0, progressProc_ = 0, advanceState_ = 0;
  uint32_t dataSlot_ = 0, resultSlot_ = 0;
  RunState* run_ = nullptr;
};

}  // namespace gm::win32
