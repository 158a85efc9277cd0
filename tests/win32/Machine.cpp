#include "tests/win32/Machine.h"

#include <cinttypes>
#include <cstdio>
#include <iterator>

namespace gm::win32 {

namespace {

constexpr uint32_t kStubBytes = 8;
constexpr uint8_t kTrapInterrupt = 0x80;
// Values the callee-saved registers carry into every call, and the ones a
// native function leaves in the scratch registers.
constexpr uint32_t kEbxMark = 0xB0B0B0B1, kEsiMark = 0x51515152, kEdiMark = 0xD1D1D1D3, kEbpMark = 0xBBBB0004;
constexpr uint32_t kScratchGarbage = 0xC1C1C1C1;
constexpr uint32_t kFlagDirection = 1u << 10;
constexpr uint8_t kUnclassified = 0, kNoSseOperand = 1, kSseOperand = 2;

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08" PRIx64, value);
  return text;
}

void Check(uc_err err, const char* what) {
  if (err != UC_ERR_OK) throw EmulationError(std::string(what) + ": " + uc_strerror(err));
}

// A flat 32-bit data segment descriptor with the given base and byte limit.
uint64_t DataDescriptor(uint32_t base, uint32_t limit) {
  uint64_t d = limit & 0xFFFF;
  d |= uint64_t{base & 0xFFFFFF} << 16;
  d |= uint64_t{0x92} << 40;  // present, ring 0, data, writable
  d |= uint64_t{(limit >> 16) & 0xF} << 48;
  d |= uint64_t{0x4} << 52;  // 32-bit
  d |= uint64_t{base >> 24} << 56;
  return d;
}

// Whether a legacy-SSE instruction (after its prefixes, from the 0F escape's
// opcode on) demands a 16-byte aligned memory operand: the aligned moves and
// the packed operations on xmm registers. Unaligned and scalar forms do not.
bool NeedsAlignment(bool has66, bool hasF2, bool hasF3, uint8_t op) {
  if (hasF2) return op == 0x70 || op == 0xE6;
  if (hasF3) return op == 0x5B || op == 0x70;
  if (!has66) return op == 0x28 || op == 0x29 || op == 0x2B || op == 0x14 || op == 0x15 ||
                     (op >= 0x51 && op <= 0x5F && op != 0x5A) || op == 0xC2 || op == 0xC6;
  return op == 0x28 || op == 0x29 || op == 0x2B || op == 0x14 || op == 0x15 || (op >= 0x51 && op <= 0x5F && op != 0x52 &&
         op != 0x53) || (op >= 0x60 && op <= 0x6D) || op == 0x6F || op == 0x70 || (op >= 0x74 && op <= 0x76) ||
         op == 0x7F || op == 0xC2 || op == 0xC6 || (op >= 0xD1 && op <= 0xFE && op != 0xD6 && op != 0xD7 &&
         op != 0xF7 && op != 0xF0);
}

}  // namespace

uint32_t NativeCall::Arg(int index) const { return machine.Get<uint32_t>(esp + 4 + 4 * static_cast<uint32_t>(index)); }

Machine::Machine() {
  Check(uc_open(UC_ARCH_X86, UC_MODE_32, &uc_), "cannot start the emulator");
  try {
    SetUp();
  } catch (...) {
    uc_close(uc_);
    throw;
  }
}

void Machine::SetUp() {
  Map(kStubBase, kStubPages * kPageSize, UC_PROT_READ | UC_PROT_EXEC);
  std::vector<uint8_t> fill(kStubPages * kPageSize, 0xCC);
  fill[0] = 0xF4;  // the return trap: emulation stops before it runs
  Write(kStubBase, fill.data(), fill.size());
  returnTrap_ = kStubBase;
  stubCursor_ = kStubBase + kStubBytes;

  Map(kStackBase, kStackTop - kStackBase, UC_PROT_READ | UC_PROT_WRITE);
  Map(kTib, 2 * kPageSize, UC_PROT_READ | UC_PROT_WRITE);
  Map(kPeb, kPageSize, UC_PROT_READ | UC_PROT_WRITE);
  Put<uint32_t>(kTib + 0x00, 0xFFFFFFFF);  // no exception handler registered
  Put<uint32_t>(kTib + 0x04, kStackTop);
  Put<uint32_t>(kTib + 0x08, kStackBase);
  Put<uint32_t>(kTib + kTibSelf, kTib);
  Put<uint32_t>(kTib + kTibProcessId, kProcessId);
  Put<uint32_t>(kTib + kTibThreadId, kThreadId);
  Put<uint32_t>(kTib + kTibPeb, kPeb);
  SetUpSegments();

  uc_hook hook;
  Check(uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&OnInterrupt), this, 1, 0), "hook");
  Check(uc_hook_add(uc_, &hook, UC_HOOK_MEM_UNMAPPED | UC_HOOK_MEM_PROT, reinterpret_cast<void*>(&OnBadMemory),
                    this, 1, 0),
        "hook");
  // A memory hook makes the emulator keep EIP exact at every access, so a
  // fault names its own instruction; this one watches a range nothing uses.
  Check(uc_hook_add(uc_, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&OnWatchedMemory),
                    this, 0xFFFFFFF0, 0xFFFFFFFF),
        "hook");
  // Installed from the start: code translated before a hook exists never calls it.
  Check(uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&OnBlock), this, 1, 0), "hook");
  Check(uc_hook_add(uc_, &hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(&OnInvalidInstruction), this, 1, 0),
        "hook");
}

Machine::~Machine() { uc_close(uc_); }

// FS selects a segment based at the thread information block, as module code
// expects; the other segments stay flat.
void Machine::SetUpSegments() {
  Map(kGdtBase, kPageSize, UC_PROT_READ | UC_PROT_WRITE);
  const uint64_t gdt[3] = {0, DataDescriptor(0, 0xFFFFF), DataDescriptor(kTib, 2 * kPageSize - 1)};
  Write(kGdtBase, gdt, sizeof gdt);
  uc_x86_mmr gdtr{};
  gdtr.base = kGdtBase;
  gdtr.limit = sizeof gdt - 1;
  Check(uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr), "GDTR");
  // Loading SS from the table makes the stack 32-bit: pushes use all of ESP.
  SetReg(UC_X86_REG_SS, 1 << 3);
  SetReg(UC_X86_REG_DS, 1 << 3);
  SetReg(UC_X86_REG_ES, 1 << 3);
  SetReg(UC_X86_REG_FS, 2 << 3);
}

void Machine::Map(uint32_t address, uint32_t size, uint32_t protection) {
  Check(uc_mem_map(uc_, address, size, protection), ("cannot map " + Hex(address)).c_str());
  for (uint32_t p = 0; p < size; p += kPageSize) pages_[address + p] = protection;
}

void Machine::Unmap(uint32_t address, uint32_t size) {
  Check(uc_mem_unmap(uc_, address, size), ("cannot unmap " + Hex(address)).c_str());
  for (uint32_t p = 0; p < size; p += kPageSize) pages_.erase(address + p);
}

void Machine::Protect(uint32_t address, uint32_t size, uint32_t protection) {
  Check(uc_mem_protect(uc_, address, size, protection), ("cannot protect " + Hex(address)).c_str());
  for (uint32_t p = 0; p < size; p += kPageSize) pages_[address + p] = protection;
}

bool Machine::IsMapped(uint32_t address) const { return pages_.count(address & ~(kPageSize - 1)) != 0; }

uint32_t Machine::ProtectionAt(uint32_t address) const {
  auto found = pages_.find(address & ~(kPageSize - 1));
  return found == pages_.end() ? 0 : found->second;
}

void Machine::Write(uint32_t address, const void* data, size_t size) {
  if (size == 0) return;
  if (uc_mem_write(uc_, address, data, size) != UC_ERR_OK) {
    throw EmulationError("host write of " + std::to_string(size) + " bytes to unmapped " + Hex(address));
  }
}

void Machine::Read(uint32_t address, void* data, size_t size) {
  if (size == 0) return;
  if (uc_mem_read(uc_, address, data, size) != UC_ERR_OK) {
    throw EmulationError("host read of " + std::to_string(size) + " bytes from unmapped " + Hex(address));
  }
}

std::string Machine::ReadString(uint32_t address, size_t limit) {
  std::string text;
  for (char c; text.size() < limit && (c = Get<char>(address + static_cast<uint32_t>(text.size()))) != 0;) {
    text.push_back(c);
  }
  return text;
}

uint32_t Machine::Reg(int id) {
  uint32_t value = 0;
  Check(uc_reg_read(uc_, id, &value), "register read");
  return value;
}

void Machine::SetReg(int id, uint32_t value) { Check(uc_reg_write(uc_, id, &value), "register write"); }

uint32_t Machine::AddNative(Native native) {
  if (!native.data.empty()) {
    const uint32_t address = Allocate(static_cast<uint32_t>(native.data.size()));
    Write(address, native.data.data(), native.data.size());
    return address;
  }
  std::vector<uint8_t> stub = {0xCD, kTrapInterrupt, 0xC3};  // int 0x80; ret
  if (!native.code.empty()) {
    stub.resize(2);
    stub.insert(stub.end(), native.code.begin(), native.code.end());
  } else if (native.convention == Convention::Stdcall && native.argumentBytes > 0) {
    stub = {0xCD, kTrapInterrupt, 0xC2, static_cast<uint8_t>(native.argumentBytes),
            static_cast<uint8_t>(native.argumentBytes >> 8)};  // ret imm16
  }
  const uint32_t size = (static_cast<uint32_t>(stub.size()) + kStubBytes - 1) / kStubBytes * kStubBytes;
  if (stubCursor_ + size > kStubBase + kStubPages * kPageSize) throw EmulationError("too many native functions");
  const uint32_t address = stubCursor_;
  stubCursor_ += size;
  Write(address, stub.data(), stub.size());
  stubs_[address] = natives_.size();
  natives_.push_back(std::move(native));
  called_.push_back(false);
  return address;
}

uint32_t Machine::Allocate(uint32_t size, bool exact) {
  const uint32_t used = exact ? size : (size + 7) & ~7u;
  const uint32_t pages = (used == 0 ? 1 : (used + kPageSize - 1) / kPageSize);
  if (heapCursor_ + uint64_t{pages + 1} * kPageSize > kHeapEnd) return 0;
  const uint32_t start = heapCursor_;
  Map(start, pages * kPageSize, UC_PROT_READ | UC_PROT_WRITE);
  heapCursor_ += (pages + 1) * kPageSize;  // one unmapped page after each block
  const uint32_t address = start + pages * kPageSize - used;
  blocks_[address] = {size, start, pages * kPageSize};
  return address;
}

bool Machine::Free(uint32_t address) {
  auto found = blocks_.find(address);
  if (found == blocks_.end()) return false;
  Unmap(found->second.runStart, found->second.runBytes);
  blocks_.erase(found);
  return true;
}

uint32_t Machine::BlockSize(uint32_t address) const {
  auto found = blocks_.find(address);
  return found == blocks_.end() ? 0 : found->second.size;
}

std::string Machine::Describe(uint32_t address) const {
  if (address >= kStubBase && address < kStubBase + kStubPages * kPageSize) {
    auto found = stubs_.upper_bound(address);
    if (found == stubs_.begin()) return "the host's return trap";
    return "stub of " + natives_[std::prev(found)->second].name;
  }
  for (const CodeMap& map : codeMaps_) {
    if (address < map.base || address - map.base >= map.size) continue;
    std::string where = map.module;
    std::string section = "headers";
    for (const auto& [start, name] : map.sections) {
      if (start <= address) section = name;
    }
    where += " " + section;
    const std::pair<uint32_t, std::string>* nearest = nullptr;
    for (const auto& e : map.exports) {
      if (e.first <= address && (!nearest || e.first > nearest->first)) nearest = &e;
    }
    if (nearest) where += ", " + nearest->second + "+" + Hex(address - nearest->first);
    return where + " (offset " + Hex(address - map.base) + ")";
  }
  return "outside any module";
}

void Machine::Fail(const std::string& what) {
  if (failure_.empty()) failure_ = what;
  uc_emu_stop(uc_);
}

void Machine::OnInterrupt(uc_engine*, uint32_t number, void* self) {
  auto& m = *static_cast<Machine*>(self);
  const uint32_t eip = m.Reg(UC_X86_REG_EIP);
  auto found = m.stubs_.find(eip - 2);
  if (number != kTrapInterrupt || found == m.stubs_.end()) {
    m.Fail("interrupt " + std::to_string(number) + " at " + Hex(eip) + " in " + m.Describe(eip));
    return;
  }
  const size_t index = found->second;
  const Native& native = m.natives_[index];
  if (!m.called_[index]) {
    m.called_[index] = true;
    m.firstCalls_.push_back(native.name);
  }
  NativeCall call{m, m.Reg(UC_X86_REG_ESP)};
  if (!native.code.empty()) return;  // the emulated code does the work
  if (!native.fn) {
    const uint32_t caller = m.Get<uint32_t>(call.esp);
    m.Fail("call of unimplemented import " + native.name + " from " + Hex(caller) + " in " + m.Describe(caller));
    return;
  }
  try {
    const uint64_t result = native.fn(call);
    uint32_t eax = static_cast<uint32_t>(result);
    if (native.resultBits == 8) eax = (eax & 0xFF) | (kScratchGarbage & ~0xFFu);
    if (native.resultBits == 16) eax = (eax & 0xFFFF) | (kScratchGarbage & ~0xFFFFu);
    m.SetReg(UC_X86_REG_EAX, eax);
    m.SetReg(UC_X86_REG_ECX, kScratchGarbage);
    m.SetReg(UC_X86_REG_EDX, native.resultBits == 64 ? static_cast<uint32_t>(result >> 32) : kScratchGarbage);
  } catch (const std::exception& e) {
    m.Fail(native.name + ": " + e.what());
  }
}

bool Machine::OnBadMemory(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* self) {
  auto& m = *static_cast<Machine*>(self);
  const char* what = "access";
  switch (type) {
    case UC_MEM_READ_UNMAPPED: what = "read from unmapped"; break;
    case UC_MEM_WRITE_UNMAPPED: what = "write to unmapped"; break;
    case UC_MEM_FETCH_UNMAPPED: what = "execution of unmapped"; break;
    case UC_MEM_READ_PROT: what = "read from protected"; break;
    case UC_MEM_WRITE_PROT: what = "write to read-only"; break;
    case UC_MEM_FETCH_PROT: what = "execution of non-executable"; break;
    default: break;
  }
  // The instruction's own address is known only once emulation has stopped.
  m.Fail(std::string("fault: ") + what + " " + Hex(address) + " (" + std::to_string(size) + " bytes)");
  m.faultNeedsPlace_ = true;
  return false;
}

bool Machine::OnInvalidInstruction(uc_engine*, void* self) {
  auto& m = *static_cast<Machine*>(self);
  const uint32_t eip = m.Reg(UC_X86_REG_EIP);
  m.Fail("fault: illegal instruction at " + Hex(eip) + " in " + m.Describe(eip));
  return false;
}

void Machine::OnWatchedMemory(uc_engine*, uc_mem_type, uint64_t, int, int64_t, void*) {}

void Machine::CheckSseAlignment(uint32_t begin, uint32_t end) {
  if (!sseClass_.empty()) throw EmulationError("one code range only is checked for SSE alignment");
  sseBegin_ = begin;
  sseClass_.assign(end - begin, kUnclassified);
  uc_hook hook;
  Check(uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&OnInstruction), this, begin, end - 1), "hook");
}

void Machine::OnInstruction(uc_engine* uc, uint64_t address, uint32_t size, void* self) {
  auto& m = *static_cast<Machine*>(self);
  // Each instruction is decoded once; most never touch an SSE operand.
  uint8_t& kind = m.sseClass_[static_cast<uint32_t>(address) - m.sseBegin_];
  if (kind == kNoSseOperand) return;
  kind = kNoSseOperand;
  uint8_t code[16] = {};
  if (size > sizeof code || uc_mem_read(uc, address, code, size) != UC_ERR_OK) return;
  uint32_t i = 0;
  bool has66 = false, hasF2 = false, hasF3 = false;
  for (; i < size; ++i) {
    const uint8_t b = code[i];
    if (b == 0x66) has66 = true;
    else if (b == 0xF2) hasF2 = true;
    else if (b == 0xF3) hasF3 = true;
    else if (b == 0x64 || b == 0x65 || b == 0x67) return;  // FS, GS or 16-bit addresses: not the pixel path
    else if (b != 0x2E && b != 0x36 && b != 0x3E && b != 0x26 && b != 0xF0) break;
  }
  if (i + 2 >= size || code[i] != 0x0F || !NeedsAlignment(has66, hasF2, hasF3, code[i + 1])) return;
  const uint8_t modrm = code[i + 2];
  const uint8_t mod = modrm >> 6, rm = modrm & 7;
  if (mod == 3) return;  // a register operand
  kind = kSseOperand;
  static const int kRegs[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                               UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
  uint32_t at = i + 3;
  uint32_t ea = 0;
  bool base = true;
  uint8_t baseReg = rm;
  if (rm == 4) {
    const uint8_t sib = code[at++];
    const uint8_t index = (sib >> 3) & 7;
    baseReg = sib & 7;
    if (index != 4) ea += m.Reg(kRegs[index]) << (sib >> 6);
    if (baseReg == 5 && mod == 0) base = false;
  } else if (rm == 5 && mod == 0) {
    base = false;
  }
  if (base) ea += m.Reg(kRegs[baseReg]);
  int32_t disp = 0;
  if (mod == 1) disp = static_cast<int8_t>(code[at]);
  if (mod == 2 || !base) std::memcpy(&disp, code + at, 4);
  ea += static_cast<uint32_t>(disp);
  if (ea % 16 != 0) {
    m.Fail("fault: 16-byte SSE operand at misaligned " + Hex(ea) + " at " + Hex(address) + " in " +
           m.Describe(static_cast<uint32_t>(address)));
  }
}

void Machine::OnBlock(uc_engine*, uint64_t, uint32_t, void* self) {
  auto& m = *static_cast<Machine*>(self);
  if (m.countingBlocks_) ++m.blocksExecuted_;
}

void Machine::CountBlocks(bool on) {
  countingBlocks_ = on;
  if (on) blocksExecuted_ = 0;
}

uint64_t Machine::Call(uint32_t address, std::span<const uint32_t> args, Convention convention) {
  // 32-bit hosts promise only 4-byte stack alignment: the arguments start
  // off a 16-byte boundary, so code that assumes more misaligns its SSE slots.
  uint32_t sp = kStackTop - 256 - 4 * static_cast<uint32_t>(args.size()) - 4;
  sp = (sp & ~15u) - 8;
  for (size_t i = 0; i < args.size(); ++i) Put<uint32_t>(sp + 4 + 4 * static_cast<uint32_t>(i), args[i]);
  Put<uint32_t>(sp, returnTrap_);
  SetReg(UC_X86_REG_ESP, sp);
  SetReg(UC_X86_REG_EBX, kEbxMark);
  SetReg(UC_X86_REG_ESI, kEsiMark);
  SetReg(UC_X86_REG_EDI, kEdiMark);
  SetReg(UC_X86_REG_EBP, kEbpMark);
  SetReg(UC_X86_REG_EAX, kScratchGarbage);
  SetReg(UC_X86_REG_ECX, kScratchGarbage);
  SetReg(UC_X86_REG_EDX, kScratchGarbage);
  SetReg(UC_X86_REG_EFLAGS, 0x202);
  failure_.clear();

  const uc_err err = uc_emu_start(uc_, address, returnTrap_, timeoutMicroseconds_, 0);
  const uint32_t eip = Reg(UC_X86_REG_EIP);
  const std::string call = "call of " + Describe(address);
  if (faultNeedsPlace_) {
    faultNeedsPlace_ = false;
    failure_ += " at " + Hex(eip) + " in " + Describe(eip);
  }
  if (!failure_.empty()) throw EmulationError(call + ": " + failure_);
  if (err != UC_ERR_OK) {
    throw EmulationError(call + ": " + uc_strerror(err) + " at " + Hex(eip) + " in " + Describe(eip));
  }
  if (eip != returnTrap_) {
    throw EmulationError(call + ": no return within " + std::to_string(timeoutMicroseconds_ / 1000000) +
                         " s; stopped at " + Hex(eip) + " in " + Describe(eip));
  }
  const uint32_t expectedSp = sp + 4 + (convention == Convention::Stdcall ? 4 * static_cast<uint32_t>(args.size()) : 0);
  std::string breach;
  if (Reg(UC_X86_REG_ESP) != expectedSp) {
    breach += " ESP " + Hex(Reg(UC_X86_REG_ESP)) + " (expected " + Hex(expectedSp) + ")";
  }
  if (Reg(UC_X86_REG_EBX) != kEbxMark) breach += " EBX";
  if (Reg(UC_X86_REG_ESI) != kEsiMark) breach += " ESI";
  if (Reg(UC_X86_REG_EDI) != kEdiMark) breach += " EDI";
  if (Reg(UC_X86_REG_EBP) != kEbpMark) breach += " EBP";
  if (Reg(UC_X86_REG_EFLAGS) & kFlagDirection) breach += " direction flag set";
  if (!breach.empty()) throw EmulationError(call + ": calling convention broken on return:" + breach);
  return Reg(UC_X86_REG_EAX) | uint64_t{Reg(UC_X86_REG_EDX)} << 32;
}

}  // namespace gm::win32
