#include "tests/win32/PeModule.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace gm::win32 {

namespace {

constexpr int kExportDir = 0, kImportDir = 1, kRelocDir = 5, kTlsDir = 9;
constexpr uint32_t kScnExecute = 0x20000000, kScnRead = 0x40000000, kScnWrite = 0x80000000;
constexpr uint32_t kProcessDetach = 0, kProcessAttach = 1;
constexpr uint16_t kRelBasedAbsolute = 0, kRelBasedHighLow = 3;

template <typename T>
T At(const std::vector<uint8_t>& bytes, size_t offset, const std::string& path) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) throw EmulationError(path + ": truncated PE file");
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

uint32_t PageRound(uint32_t size) { return (size + kPageSize - 1) & ~(kPageSize - 1); }

}  // namespace

PeModule::PeModule(Machine& machine, const std::string& path, uint32_t base, const ImportResolver& resolve)
    : machine_(machine), base_(base) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EmulationError(path + ": cannot open");
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  name_ = path.substr(path.find_last_of('/') + 1);

  if (At<uint16_t>(file, 0, path) != 0x5A4D) throw EmulationError(path + ": not an executable");
  const uint32_t pe = At<uint32_t>(file, 0x3C, path);
  if (At<uint32_t>(file, pe, path) != 0x00004550 || At<uint16_t>(file, pe + 4, path) != 0x014C) {
    throw EmulationError(path + ": not a 32-bit x86 PE file");
  }
  const uint16_t sectionCount = At<uint16_t>(file, pe + 6, path);
  const uint16_t optionalSize = At<uint16_t>(file, pe + 20, path);
  const uint32_t opt = pe + 24;
  if (At<uint16_t>(file, opt, path) != 0x10B) throw EmulationError(path + ": not a PE32 image");
  entryRva_ = At<uint32_t>(file, opt + 16, path);
  preferredBase_ = At<uint32_t>(file, opt + 28, path);
  imageSize_ = PageRound(At<uint32_t>(file, opt + 56, path));
  headerBytes_ = At<uint32_t>(file, opt + 60, path);
  const uint32_t dirCount = std::min<uint32_t>(At<uint32_t>(file, opt + 92, path), 16);
  for (uint32_t i = 0; i < 16; ++i) {
    directories_.emplace_back(i < dirCount ? At<uint32_t>(file, opt + 96 + 8 * i, path) : 0,
                              i < dirCount ? At<uint32_t>(file, opt + 100 + 8 * i, path) : 0);
  }
  if (base_ == preferredBase_) throw EmulationError(path + ": must load away from its preferred base");
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint32_t s = opt + optionalSize + 40 * i;
    char raw[9] = {};
    const uint64_t rawName = At<uint64_t>(file, s, path);
    std::memcpy(raw, &rawName, 8);
    const std::string name = raw;
    sections_.push_back({name, At<uint32_t>(file, s + 12, path), At<uint32_t>(file, s + 8, path),
                         At<uint32_t>(file, s + 16, path), At<uint32_t>(file, s + 20, path),
                         At<uint32_t>(file, s + 36, path)});
  }

  MapSections(file);
  Relocate();
  ReadExports();
  BindImports(resolve);

  CodeMap map{name_, base_, imageSize_, {}, {}};
  for (const Section& s : sections_) map.sections.emplace_back(base_ + s.rva, s.name);
  for (const auto& [name, address] : exports_) map.exports.emplace_back(address, name);
  machine_.AddCodeMap(std::move(map));
}

void PeModule::MapSections(const std::vector<uint8_t>& file) {
  machine_.Map(base_, imageSize_, UC_PROT_READ | UC_PROT_WRITE);
  machine_.Write(base_, file.data(), std::min<size_t>(headerBytes_, file.size()));
  for (const Section& s : sections_) {
    if (s.rva + uint64_t{std::max(s.virtualSize, s.rawSize)} > imageSize_ ||
        s.rawOffset + uint64_t{s.rawSize} > file.size()) {
      throw EmulationError(name_ + ": section " + s.name + " outside the image");
    }
    machine_.Write(base_ + s.rva, file.data() + s.rawOffset, std::min(s.rawSize, s.virtualSize));
  }
}

void PeModule::Relocate() {
  const uint32_t delta = base_ - preferredBase_;
  for (uint32_t at = Dir(kRelocDir), end = Dir(kRelocDir) + DirSize(kRelocDir); at + 8 <= end;) {
    const uint32_t page = machine_.Get<uint32_t>(base_ + at);
    const uint32_t blockSize = machine_.Get<uint32_t>(base_ + at + 4);
    if (blockSize < 8 || at + blockSize > end) throw EmulationError(name_ + ": bad relocation block");
    for (uint32_t e = 8; e + 2 <= blockSize; e += 2) {
      const uint16_t entry = machine_.Get<uint16_t>(base_ + at + e);
      const uint16_t type = entry >> 12;
      if (type == kRelBasedAbsolute) continue;
      if (type != kRelBasedHighLow) throw EmulationError(name_ + ": relocation type " + std::to_string(type));
      const uint32_t target = base_ + page + (entry & 0xFFF);
      machine_.Put<uint32_t>(target, machine_.Get<uint32_t>(target) + delta);
      ++relocations_;
    }
    at += blockSize;
  }
}

void PeModule::BindImports(const ImportResolver& resolve) {
  for (uint32_t d = base_ + Dir(kImportDir); DirSize(kImportDir) != 0; d += 20) {
    const uint32_t lookup = machine_.Get<uint32_t>(d);
    const uint32_t nameRva = machine_.Get<uint32_t>(d + 12);
    const uint32_t iat = machine_.Get<uint32_t>(d + 16);
    if (nameRva == 0) break;
    std::string dll = machine_.ReadString(base_ + nameRva, 256);
    std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
    for (uint32_t i = 0;; ++i) {
      const uint32_t thunk = machine_.Get<uint32_t>(base_ + (lookup ? lookup : iat) + 4 * i);
      if (thunk == 0) break;
      char ordinal[16];
      std::snprintf(ordinal, sizeof ordinal, "#%u", thunk & 0xFFFF);
      const std::string name = thunk & 0x80000000u ? ordinal : machine_.ReadString(base_ + thunk + 2, 256);
      Native native = resolve(dll, name);
      if (native.name.empty()) native.name = name;
      machine_.Put<uint32_t>(base_ + iat + 4 * i, machine_.AddNative(std::move(native)));
      ++imports_;
    }
  }
  // Protections last: the loader itself wrote into read-only sections.
  machine_.Protect(base_, PageRound(headerBytes_), UC_PROT_READ);
  for (const Section& s : sections_) {
    uint32_t protection = UC_PROT_NONE;
    if (s.characteristics & kScnRead) protection |= UC_PROT_READ;
    if (s.characteristics & kScnWrite) protection |= UC_PROT_WRITE;
    if (s.characteristics & kScnExecute) protection |= UC_PROT_EXEC;
    const uint32_t size = PageRound(std::max(s.virtualSize, 1u));
    machine_.Protect(base_ + s.rva, size, protection);
    if (protection & UC_PROT_EXEC) machine_.CheckSseAlignment(base_ + s.rva, base_ + s.rva + size);
  }
}

void PeModule::ReadExports() {
  if (DirSize(kExportDir) == 0) return;
  const uint32_t dir = base_ + Dir(kExportDir);
  const uint32_t ordinalBase = machine_.Get<uint32_t>(dir + 16);
  const uint32_t nameCount = machine_.Get<uint32_t>(dir + 24);
  const uint32_t functions = base_ + machine_.Get<uint32_t>(dir + 28);
  const uint32_t names = base_ + machine_.Get<uint32_t>(dir + 32);
  const uint32_t ordinals = base_ + machine_.Get<uint32_t>(dir + 36);
  (void)ordinalBase;  // names index the function table directly
  for (uint32_t i = 0; i < nameCount; ++i) {
    const std::string name = machine_.ReadString(base_ + machine_.Get<uint32_t>(names + 4 * i), 256);
    const uint16_t index = machine_.Get<uint16_t>(ordinals + 2 * i);
    exports_[name] = base_ + machine_.Get<uint32_t>(functions + 4 * index);
  }
}

uint32_t PeModule::Export(const std::string& name) const {
  auto found = exports_.find(name);
  return found == exports_.end() ? 0 : found->second;
}

// Thread-local storage for the one thread: the module's template copied into
// a block that slot 0 of the thread's TLS array points to.
void PeModule::Attach() {
  if (DirSize(kTlsDir) != 0) {
    const uint32_t tls = base_ + Dir(kTlsDir);
    const uint32_t start = machine_.Get<uint32_t>(tls);
    const uint32_t end = machine_.Get<uint32_t>(tls + 4);
    const uint32_t index = machine_.Get<uint32_t>(tls + 8);
    const uint32_t zeroFill = machine_.Get<uint32_t>(tls + 16);
    if (end < start) throw EmulationError(name_ + ": bad TLS template");
    std::vector<uint8_t> data(end - start + zeroFill);
    machine_.Read(start, data.data(), end - start);
    const uint32_t block = machine_.Allocate(static_cast<uint32_t>(std::max<size_t>(data.size(), 4)));
    machine_.Write(block, data.data(), data.size());
    const uint32_t array = machine_.Allocate(64 * 4);
    machine_.Put<uint32_t>(array, block);
    machine_.Put<uint32_t>(kTib + kTibTlsPointer, array);
    machine_.Put<uint32_t>(index, 0);
  }
  NotifyAll(kProcessAttach);
  attached_ = true;
}

void PeModule::Detach() {
  if (!attached_ || detached_) return;
  detached_ = true;
  NotifyAll(kProcessDetach);
}

void PeModule::NotifyAll(uint32_t reason) {
  const uint32_t args[3] = {base_, reason, 0};
  if (DirSize(kTlsDir) != 0) {
    const uint32_t list = machine_.Get<uint32_t>(base_ + Dir(kTlsDir) + 12);
    for (uint32_t i = 0; list; ++i) {
      const uint32_t callback = machine_.Get<uint32_t>(list + 4 * i);
      if (!callback) break;
      machine_.Call(callback, args, Convention::Stdcall);
      ++tlsCallbacksRun_;
    }
  }
  if (entryRva_ != 0) {
    const uint32_t ok = static_cast<uint32_t>(machine_.Call(base_ + entryRva_, args, Convention::Stdcall));
    if (reason == kProcessAttach && ok == 0) throw EmulationError(name_ + ": entry point refused process attach");
  }
}

}  // namespace gm::win32
