#include "tests/win32/Win32Api.h"

#include <algorithm>
#include <vector>

namespace gm::win32 {

namespace {

constexpr uint32_t kPageNoAccess = 0x01, kPageReadOnly = 0x02, kPageReadWrite = 0x04, kPageExecute = 0x10,
                   kPageExecuteRead = 0x20, kPageExecuteReadWrite = 0x40;
constexpr uint32_t kMemCommit = 0x1000, kMemFree = 0x10000, kMemPrivate = 0x20000;
constexpr uint32_t kTlsSlots = 0xE10;  // the thread's 64 TlsGetValue slots
constexpr uint32_t kTlsOutOfIndexes = 0xFFFFFFFF;
constexpr uint32_t kIdOk = 1;
constexpr uint32_t kThreadHandle = 0x7E0;
constexpr uint32_t kWaitObject0 = 0, kWaitTimeout = 0x102;

uint32_t ToPageProtection(uint32_t uc) {
  const bool r = uc & UC_PROT_READ, w = uc & UC_PROT_WRITE, x = uc & UC_PROT_EXEC;
  if (x) return w ? kPageExecuteReadWrite : r ? kPageExecuteRead : kPageExecute;
  return w ? kPageReadWrite : r ? kPageReadOnly : kPageNoAccess;
}

uint32_t FromPageProtection(uint32_t page) {
  switch (page & 0xFF) {
    case kPageReadOnly: return UC_PROT_READ;
    case kPageReadWrite: case 0x08: return UC_PROT_READ | UC_PROT_WRITE;
    case kPageExecute: return UC_PROT_EXEC;
    case kPageExecuteRead: return UC_PROT_READ | UC_PROT_EXEC;
    case kPageExecuteReadWrite: case 0x80: return UC_PROT_ALL;
    default: return UC_PROT_NONE;
  }
}

// _initterm runs in emulated code, since it calls back into the module:
//   push esi; push edi; mov esi,[esp+12]; mov edi,[esp+16]
//   next: cmp esi,edi; jae done; mov eax,[esi]; test eax,eax; jz skip; call eax
//   skip: add esi,4; jmp next
//   done: pop edi; pop esi; ret
const std::vector<uint8_t> kInitTermCode = {0x56, 0x57, 0x8B, 0x74, 0x24, 0x0C, 0x8B, 0x7C, 0x24, 0x10, 0x39,
                                            0xFE, 0x73, 0x0D, 0x8B, 0x06, 0x85, 0xC0, 0x74, 0x02, 0xFF, 0xD0,
                                            0x83, 0xC6, 0x04, 0xEB, 0xEF, 0x5F, 0x5E, 0xC3};

}  // namespace

Win32Api::Win32Api(Machine& machine) : machine_(machine) {
  AddKernel32();
  AddUser32();
  AddMsvcrt();
}

void Win32Api::Stdcall(const std::string& dll, const std::string& name, int args, NativeFn fn) {
  table_[dll + "!" + name] = Native{.name = dll + "!" + name, .convention = Convention::Stdcall, .argumentBytes = 4 * args, .fn = std::move(fn)};
}

void Win32Api::Cdecl(const std::string& name, NativeFn fn) {
  table_["msvcrt.dll!" + name] = Native{.name = "msvcrt.dll!" + name, .fn = std::move(fn)};
}

Native Win32Api::Resolve(const std::string& dll, const std::string& name) const {
  auto found = table_.find(dll + "!" + name);
  if (found != table_.end()) return found->second;
  return Native{.name = dll + "!" + name};
}

uint32_t Win32Api::Malloc(uint32_t size, uint8_t fill) {
  const uint32_t block = machine_.Allocate(size);
  if (block && size) {
    // Fresh blocks hold garbage, as a real heap's do, so nothing may rely on zeros.
    const std::vector<uint8_t> bytes(size, fill);
    machine_.Write(block, bytes.data(), bytes.size());
  }
  return block;
}

void Win32Api::AddKernel32() {
  Machine& m = machine_;
  const std::string k = "kernel32.dll";
  // The last error lives where module code may also read it directly.
  constexpr uint32_t lastError = kTib + kTibLastError;
  Stdcall(k, "GetLastError", 0, [&m](NativeCall&) { return m.Get<uint32_t>(lastError); });
  Stdcall(k, "SetLastError", 1, [&m](NativeCall& c) {
    m.Put<uint32_t>(lastError, c.Arg(0));
    return 0;
  });
  Stdcall(k, "GetCurrentProcessId", 0, [](NativeCall&) { return kProcessId; });
  Stdcall(k, "GetCurrentThreadId", 0, [](NativeCall&) { return kThreadId; });
  Stdcall(k, "GetCurrentProcess", 0, [](NativeCall&) { return 0xFFFFFFFFu; });
  Stdcall(k, "GetCurrentThread", 0, [](NativeCall&) { return 0xFFFFFFFEu; });
  Stdcall(k, "GetSystemTimeAsFileTime", 1, [&m](NativeCall& c) {
    m.Put<uint64_t>(c.Arg(0), 0x01DD0A1B2C3D4E5Full);
    return 0;
  });
  table_[k + "!GetTickCount64"] = Native{.name = k + "!GetTickCount64", .convention = Convention::Stdcall,
                                          .fn = [](NativeCall&) { return uint64_t{123456789}; }, .resultBits = 64};
  Stdcall(k, "IsDebuggerPresent", 0, [](NativeCall&) { return 0; });
  Stdcall(k, "Sleep", 1, [](NativeCall&) { return 0; });
  Stdcall(k, "OutputDebugStringA", 1, [this, &m](NativeCall& c) {
    debugLines.push_back(m.ReadString(c.Arg(0)));
    if (debugSink) debugSink(debugLines.back());
    return 0;
  });

  // One thread: a critical section is a recursion count, and leaving one that
  // was not entered is a fault in the module.
  Stdcall(k, "InitializeCriticalSection", 1, [&m](NativeCall& c) {
    const uint32_t zero[6] = {0, 0xFFFFFFFF, 0, 0, 0, 0};  // DebugInfo, LockCount, RecursionCount, ...
    m.Write(c.Arg(0), zero, sizeof zero);
    return 0;
  });
  auto enter = [&m](NativeCall& c) {
    m.Put<uint32_t>(c.Arg(0) + 8, m.Get<uint32_t>(c.Arg(0) + 8) + 1);
    m.Put<uint32_t>(c.Arg(0) + 12, kThreadId);
    return 1;
  };
  Stdcall(k, "EnterCriticalSection", 1, enter);
  Stdcall(k, "TryEnterCriticalSection", 1, enter);
  Stdcall(k, "LeaveCriticalSection", 1, [&m](NativeCall& c) {
    const uint32_t count = m.Get<uint32_t>(c.Arg(0) + 8);
    if (count == 0) throw EmulationError("leaving a critical section that was not entered");
    m.Put<uint32_t>(c.Arg(0) + 8, count - 1);
    if (count == 1) m.Put<uint32_t>(c.Arg(0) + 12, 0);
    return 0;
  });
  Stdcall(k, "DeleteCriticalSection", 1, [](NativeCall&) { return 0; });

  Stdcall(k, "TlsAlloc", 0, [this](NativeCall&) { return nextTlsSlot_ < 64 ? nextTlsSlot_++ : kTlsOutOfIndexes; });
  Stdcall(k, "TlsGetValue", 1, [this, &m](NativeCall& c) {
    if (c.Arg(0) >= nextTlsSlot_) throw EmulationError("TlsGetValue of a slot never allocated");
    m.Put<uint32_t>(lastError, 0);  // callers tell a stored null from a failure by this
    return m.Get<uint32_t>(kTib + kTlsSlots + 4 * c.Arg(0));
  });
  Stdcall(k, "TlsSetValue", 2, [this, &m](NativeCall& c) {
    if (c.Arg(0) >= nextTlsSlot_) throw EmulationError("TlsSetValue of a slot never allocated");
    m.Put<uint32_t>(kTib + kTlsSlots + 4 * c.Arg(0), c.Arg(1));
    return 1;
  });

  Stdcall(k, "VirtualQuery", 3, [&m](NativeCall& c) -> uint64_t {
    if (c.Arg(2) < 28) return 0;
    const uint32_t page = c.Arg(0) & ~(kPageSize - 1);
    uint32_t info[7] = {page, page, 0, 0, kMemFree, kPageNoAccess, 0};
    if (m.IsMapped(page)) {
      const uint32_t protection = m.ProtectionAt(page);
      uint32_t end = page;
      while (m.IsMapped(end) && m.ProtectionAt(end) == protection) end += kPageSize;
      info[2] = ToPageProtection(UC_PROT_ALL);
      info[3] = end - page;
      info[4] = kMemCommit;
      info[5] = ToPageProtection(protection);
      info[6] = kMemPrivate;
    }
    m.Write(c.Arg(1), info, sizeof info);
    return 28;
  });
  Stdcall(k, "VirtualProtect", 4, [&m](NativeCall& c) -> uint64_t {
    const uint32_t start = c.Arg(0) & ~(kPageSize - 1);
    const uint32_t end = (c.Arg(0) + c.Arg(1) + kPageSize - 1) & ~(kPageSize - 1);
    for (uint32_t p = start; p < end; p += kPageSize) {
      if (!m.IsMapped(p)) return 0;
    }
    if (c.Arg(3)) m.Put<uint32_t>(c.Arg(3), ToPageProtection(m.ProtectionAt(start)));
    m.Protect(start, end - start, FromPageProtection(c.Arg(2)));
    return 1;
  });

  // Events and semaphores for the one thread: a wait must find its object
  // signalled, since no other thread could ever signal it.
  Stdcall(k, "CreateEventA", 4, [this](NativeCall& c) {
    objects_[nextHandle_] = {c.Arg(1) != 0, c.Arg(2) != 0 ? 1u : 0u};
    return nextHandle_ += 4;
  });
  Stdcall(k, "CreateSemaphoreA", 4, [this](NativeCall& c) {
    objects_[nextHandle_] = {false, c.Arg(1)};
    return nextHandle_ += 4;
  });
  auto object = [this](uint32_t handle) -> KernelObject& {
    auto found = objects_.find(handle - 4);
    if (found == objects_.end()) throw EmulationError("not an event or semaphore handle");
    return found->second;
  };
  Stdcall(k, "SetEvent", 1, [object](NativeCall& c) { return object(c.Arg(0)).count = 1; });
  Stdcall(k, "ResetEvent", 1, [object](NativeCall& c) {
    object(c.Arg(0)).count = 0;
    return 1;
  });
  Stdcall(k, "ReleaseSemaphore", 3, [object, &m](NativeCall& c) {
    KernelObject& o = object(c.Arg(0));
    if (c.Arg(2)) m.Put<uint32_t>(c.Arg(2), o.count);
    o.count += c.Arg(1);
    return 1;
  });
  Stdcall(k, "WaitForSingleObject", 2, [object](NativeCall& c) -> uint64_t {
    KernelObject& o = object(c.Arg(0));
    if (o.count == 0) {
      if (c.Arg(1) == 0) return kWaitTimeout;
      throw EmulationError("a wait no other thread could end");
    }
    if (!o.manualReset) --o.count;
    return kWaitObject0;
  });
  // The one thread's own handle, as duplicating its pseudo handle gives it.
  Stdcall(k, "DuplicateHandle", 7, [&m](NativeCall& c) -> uint64_t {
    if (c.Arg(1) != 0xFFFFFFFE) throw EmulationError("only the current thread's handle is duplicated here");
    m.Put<uint32_t>(c.Arg(3), kThreadHandle);
    return 1;
  });
  Stdcall(k, "GetThreadPriority", 1, [](NativeCall&) { return 0; });  // normal
  Stdcall(k, "CloseHandle", 1, [this](NativeCall& c) {
    return c.Arg(0) == kThreadHandle || objects_.erase(c.Arg(0) - 4) ? 1 : 0;
  });

  // Exceptions never reach the system here: a handler is accepted and never called.
  Stdcall(k, "AddVectoredExceptionHandler", 2, [](NativeCall& c) { return c.Arg(1); });
  Stdcall(k, "RemoveVectoredExceptionHandler", 1, [](NativeCall&) { return 1; });

  // No other module is loaded: lookups of other libraries find nothing.
  Stdcall(k, "GetModuleHandleA", 1, [](NativeCall&) { return 0; });
  Stdcall(k, "GetModuleHandleW", 1, [](NativeCall&) { return 0; });
  Stdcall(k, "LoadLibraryA", 1, [](NativeCall&) { return 0; });
  Stdcall(k, "LoadLibraryW", 1, [](NativeCall&) { return 0; });
  Stdcall(k, "GetProcAddress", 2, [](NativeCall&) { return 0; });
}

void Win32Api::AddUser32() {
  Machine& m = machine_;
  const std::string u = "user32.dll";
  Stdcall(u, "GetActiveWindow", 0, [](NativeCall&) { return kActiveWindow; });
  Stdcall(u, "MessageBoxA", 4, [this, &m](NativeCall& c) {
    messageBoxes.push_back({c.Arg(0), m.ReadString(c.Arg(1)), m.ReadString(c.Arg(2)), c.Arg(3)});
    return kIdOk;
  });
  Stdcall(u, "DefWindowProcA", 4, [](NativeCall&) { return 0; });
}

void Win32Api::AddMsvcrt() {
  Machine& m = machine_;
  Cdecl("malloc", [this](NativeCall& c) { return Malloc(c.Arg(0), 0xCD); });
  Cdecl("calloc", [this](NativeCall& c) -> uint64_t {
    const uint64_t total = uint64_t{c.Arg(0)} * c.Arg(1);
    return total > 0x10000000 ? 0 : Malloc(static_cast<uint32_t>(total), 0);
  });
  Cdecl("realloc", [this, &m](NativeCall& c) -> uint64_t {
    const uint32_t old = c.Arg(0), size = c.Arg(1);
    if (old && !m.IsBlock(old)) throw EmulationError("realloc of a pointer the heap never gave out");
    const uint32_t fresh = Malloc(size, 0xCD);
    if (old) {
      std::vector<uint8_t> bytes(std::min(size, m.BlockSize(old)));
      m.Read(old, bytes.data(), bytes.size());
      m.Write(fresh, bytes.data(), bytes.size());
      m.Free(old);
    }
    return fresh;
  });
  Cdecl("free", [&m](NativeCall& c) {
    if (c.Arg(0) && !m.Free(c.Arg(0))) throw EmulationError("free of a pointer the heap never gave out");
    return 0;
  });
  Cdecl("_strdup", [this, &m](NativeCall& c) {
    const std::string text = m.ReadString(c.Arg(0));
    const uint32_t copy = Malloc(static_cast<uint32_t>(text.size() + 1), 0);
    m.Write(copy, text.data(), text.size());
    return copy;
  });

  auto copy = [&m](NativeCall& c) {
    std::vector<uint8_t> bytes(c.Arg(2));
    m.Read(c.Arg(1), bytes.data(), bytes.size());
    m.Write(c.Arg(0), bytes.data(), bytes.size());
    return c.Arg(0);
  };
  Cdecl("memcpy", copy);
  Cdecl("memmove", copy);
  Cdecl("memset", [&m](NativeCall& c) {
    const std::vector<uint8_t> bytes(c.Arg(2), static_cast<uint8_t>(c.Arg(1)));
    m.Write(c.Arg(0), bytes.data(), bytes.size());
    return c.Arg(0);
  });
  Cdecl("memcmp", [&m](NativeCall& c) -> uint64_t {
    std::vector<uint8_t> a(c.Arg(2)), b(c.Arg(2));
    m.Read(c.Arg(0), a.data(), a.size());
    m.Read(c.Arg(1), b.data(), b.size());
    const int r = a.empty() ? 0 : std::memcmp(a.data(), b.data(), a.size());
    return static_cast<uint32_t>(r < 0 ? -1 : r > 0 ? 1 : 0);
  });
  Cdecl("memchr", [&m](NativeCall& c) -> uint64_t {
    for (uint32_t i = 0; i < c.Arg(2); ++i) {
      if (m.Get<uint8_t>(c.Arg(0) + i) == static_cast<uint8_t>(c.Arg(1))) return c.Arg(0) + i;
    }
    return 0;
  });
  Cdecl("strlen", [&m](NativeCall& c) { return static_cast<uint32_t>(m.ReadString(c.Arg(0), UINT32_MAX).size()); });
  Cdecl("strcmp", [&m](NativeCall& c) -> uint64_t {
    const int r = m.ReadString(c.Arg(0)).compare(m.ReadString(c.Arg(1)));
    return static_cast<uint32_t>(r < 0 ? -1 : r > 0 ? 1 : 0);
  });
  Cdecl("strncmp", [&m](NativeCall& c) -> uint64_t {
    const int r = m.ReadString(c.Arg(0), c.Arg(2)).compare(m.ReadString(c.Arg(1), c.Arg(2)));
    return static_cast<uint32_t>(r < 0 ? -1 : r > 0 ? 1 : 0);
  });
  Cdecl("strchr", [&m](NativeCall& c) -> uint64_t {
    const std::string text = m.ReadString(c.Arg(0));
    const char wanted = static_cast<char>(c.Arg(1));
    if (wanted == 0) return c.Arg(0) + static_cast<uint32_t>(text.size());
    const size_t at = text.find(wanted);
    return at == std::string::npos ? 0 : c.Arg(0) + static_cast<uint32_t>(at);
  });

  Cdecl("getenv", [this, &m](NativeCall& c) -> uint64_t {
    const std::string name = m.ReadString(c.Arg(0));
    auto found = environment.find(name);
    if (found == environment.end()) return 0;
    uint32_t& copy = environmentCopies_[name];
    if (!copy) {
      copy = Malloc(static_cast<uint32_t>(found->second.size() + 1), 0);
      m.Write(copy, found->second.data(), found->second.size());
    }
    return copy;
  });
  Cdecl("_errno", [this](NativeCall&) {
    if (!errnoSlot_) errnoSlot_ = Malloc(4, 0);
    return errnoSlot_;
  });
  Cdecl("_lock", [](NativeCall&) { return 0; });
  Cdecl("_unlock", [](NativeCall&) { return 0; });
  table_["msvcrt.dll!_initterm"] = Native{.name = "msvcrt.dll!_initterm", .code = kInitTermCode};
  table_["msvcrt.dll!__mb_cur_max"] = Native{.name = "msvcrt.dll!__mb_cur_max", .data = {1, 0, 0, 0}};
  // Twenty zeroed stream records, as many as the runtime's table starts with.
  table_["msvcrt.dll!_iob"] =
      Native{.name = "msvcrt.dll!_iob", .data = std::vector<uint8_t>(20 * 32, 0)};
}

}  // namespace gm::win32
