// The system functions a module imports, each a small native implementation
// over the emulated process: heap, memory and string functions, critical
// sections, thread-local storage, the last error, the sources the start-up
// code seeds its security cookie from, page queries, the environment, the
// debugger output and the message box. Anything else stops the run with its
// name the first time it is called.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/win32/Machine.h"

namespace gm::win32 {

struct MessageBoxCall {
  uint32_t owner;
  std::string text;
  std::string caption;
  uint32_t style;
};

class Win32Api {
 public:
  static constexpr uint32_t kActiveWindow = 0x00010ABC;

  explicit Win32Api(Machine& machine);

  Native Resolve(const std::string& dll, const std::string& name) const;
  void Withhold(const std::string& dllAndName) { table_.erase(dllAndName); }

  std::map<std::string, std::string> environment;  // what getenv finds
  std::vector<std::string> debugLines;             // OutputDebugStringA
  std::function<void(const std::string&)> debugSink;  // told of each line as it comes
  std::vector<MessageBoxCall> messageBoxes;

 private:
  void Stdcall(const std::string& dll, const std::string& name, int args, NativeFn fn);
  void Cdecl(const std::string& name, NativeFn fn);
  void AddKernel32();
  void AddUser32();
  void AddMsvcrt();
  uint32_t Malloc(uint32_t size, uint8_t fill);

  Machine& machine_;
  std::map<std::string, Native> table_;  // "dll!name"
  std::map<std::string, uint32_t> environmentCopies_;
  struct KernelObject {
    bool manualReset;
    uint32_t count;  // signalled state of an event, count of a semaphore
  };
  std::map<uint32_t, KernelObject> objects_;  // by handle - 4
  uint32_t nextHandle_ = 0x100;
  uint32_t errnoSlot_ = 0;
  uint32_t nextTlsSlot_ = 0;
};

}  // namespace gm::win32
