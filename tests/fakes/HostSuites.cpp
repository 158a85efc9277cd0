#include "tests/fakes/HostSuites.h"

#include <cstring>

namespace gm::test {

namespace {
constexpr int32_t kUnknownPlugin = -1;  // the reference names no plug-in of this host
BasicSuiteHost* activeBasic = nullptr;
AccessSuiteHost* activeAccess = nullptr;
}  // namespace

struct BasicSuiteHost::Callbacks {
  static int32_t AcquireSuite(const char* name, int32_t version, const void** suite) {
    BasicSuiteHost* host = activeBasic;
    if (!host || !name || !suite) return kSuiteNotFound;
    auto found = host->suites_.find({name, version});
    const int32_t error = found == host->suites_.end() ? kSuiteNotFound : 0;
    if (error == 0) *suite = found->second;
    host->suiteCalls_.push_back({SuiteCall::Acquire, name, version, error});
    return error;
  }
  static int32_t ReleaseSuite(const char* name, int32_t version) {
    BasicSuiteHost* host = activeBasic;
    if (!host || !name) return kSuiteNotFound;
    host->suiteCalls_.push_back({SuiteCall::Release, name, version, 0});
    return 0;
  }
  static int32_t IsEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
  static int32_t AllocateBlock(size_t size, void** block) {
    BasicSuiteHost* host = activeBasic;
    if (!host || !block) return memFullErr;
    if (host->failAfter_ > 0 && host->blocksAllocated_ >= host->failAfter_) return memFullErr;
    if (int32_t error = host->pool_.Allocate(size, block)) return error;
    host->blocks_[*block] = size;
    ++host->blocksAllocated_;
    return 0;
  }
  static int32_t FreeBlock(void* block) {
    BasicSuiteHost* host = activeBasic;
    if (!block) return 0;
    if (!host) return paramErr;
    const int32_t error = host->pool_.Free(block);
    if (error) ++host->badFrees_;
    host->blocks_.erase(block);
    return error;
  }
  static int32_t ReallocateBlock(void* block, size_t size, void** fresh) {
    BasicSuiteHost* host = activeBasic;
    if (!host) return paramErr;
    if (int32_t error = host->pool_.Reallocate(block, size, fresh)) return error;
    host->blocks_.erase(block);
    host->blocks_[*fresh] = size;
    ++host->blocksAllocated_;
    return 0;
  }
  static int32_t Undefined() { return paramErr; }
};

BasicSuiteHost::BasicSuiteHost() : previous_(activeBasic) { activeBasic = this; }

BasicSuiteHost::~BasicSuiteHost() {
  if (activeBasic == this) activeBasic = previous_;
}

SPBasicSuite* BasicSuiteHost::BasicSuite() {
  static SPBasicSuite table{Callbacks::AcquireSuite,  Callbacks::ReleaseSuite,    Callbacks::IsEqual,
                            Callbacks::AllocateBlock, Callbacks::FreeBlock,       Callbacks::ReallocateBlock,
                            Callbacks::Undefined};
  return &table;
}

void BasicSuiteHost::OfferSuite(const std::string& name, int32_t version, const void* table) {
  suites_[{name, version}] = table;
}

size_t BasicSuiteHost::OutstandingBytes() const {
  size_t total = 0;
  for (const auto& [block, size] : blocks_) total += size;
  return total;
}

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

namespace {
HandleSuiteHost* activeHandles = nullptr;
PropertySuiteHost* activeProperties = nullptr;
}  // namespace

struct HandleSuiteHost::Callbacks {
  static Handle New(int32_t size) {
    HandleSuiteHost* host = activeHandles;
    if (!host) return nullptr;
    ++host->newCalls;
    if (host->failNew || size < 0) return nullptr;
    Handle made = host->Make(std::vector<uint8_t>(static_cast<size_t>(size)));
    if (host->newUnlockable) host->MakeUnlockable(made);
    return made;
  }
  static void Dispose(Handle handle) {
    HandleSuiteHost* host = activeHandles;
    if (!host) return;
    Block* block = host->Find(handle);
    if (!block || block->disposals > 0) {
      ++host->badDisposals;
      if (block) ++block->disposals;
      return;
    }
    ++block->disposals;
    block->bytes.clear();
    block->bytes.shrink_to_fit();  // a read after disposal now shows up under the sanitizers
  }
  static void SetLock(Handle handle, Boolean lock, char** address, Boolean* oldLock) {
    HandleSuiteHost* host = activeHandles;
    Block* block = host ? host->Find(handle) : nullptr;
    if (address) *address = nullptr;
    if (!block || block->disposals > 0) return;
    if (oldLock) *oldLock = block->locks > 0;
    if (!lock) {
      if (block->locks > 0) --block->locks;
      return;
    }
    if (block->unlockable) return;
    ++block->locks;
    if (address && !block->bytes.empty()) *address = reinterpret_cast<char*>(block->bytes.data());
  }
  static int32_t GetSize(Handle handle) {
    HandleSuiteHost* host = activeHandles;
    Block* block = host ? host->Find(handle) : nullptr;
    if (!block || block->disposals > 0) return 0;
    if (block->sizeOverridden) return block->reportedSize;
    return static_cast<int32_t>(block->bytes.size());
  }
  static void Unused() {}
};

HandleSuiteHost::HandleSuiteHost() { activeHandles = this; }

HandleSuiteHost::~HandleSuiteHost() {
  if (activeHandles == this) activeHandles = nullptr;
}

const HandleSuiteHost::Table* HandleSuiteHost::Suite() const {
  static const Table table{Callbacks::New, Callbacks::Dispose, Callbacks::Unused, Callbacks::SetLock,
                           Callbacks::GetSize};
  return &table;
}

HandleSuiteHost::Block* HandleSuiteHost::Find(Handle handle) const {
  for (const auto& block : blocks_) {
    if (block.get() == handle) return block.get();
  }
  return nullptr;
}

Handle HandleSuiteHost::Make(const std::vector<uint8_t>& bytes) {
  auto block = std::make_unique<Block>();
  block->bytes = bytes;
  blocks_.push_back(std::move(block));
  return blocks_.back().get();
}

std::vector<uint8_t> HandleSuiteHost::Bytes(Handle handle) const {
  const Block* block = Find(handle);
  return block ? block->bytes : std::vector<uint8_t>{};
}

bool HandleSuiteHost::Known(Handle handle) const { return Find(handle) != nullptr; }

int HandleSuiteHost::DisposeCount(Handle handle) const {
  const Block* block = Find(handle);
  return block ? block->disposals : 0;
}

int HandleSuiteHost::LockCount(Handle handle) const {
  const Block* block = Find(handle);
  return block ? block->locks : 0;
}

size_t HandleSuiteHost::Live() const {
  size_t live = 0;
  for (const auto& block : blocks_) live += block->disposals == 0;
  return live;
}

void HandleSuiteHost::MakeUnlockable(Handle handle) {
  if (Block* block = Find(handle)) block->unlockable = true;
}

void HandleSuiteHost::ReportSize(Handle handle, int32_t size) {
  if (Block* block = Find(handle)) {
    block->sizeOverridden = true;
    block->reportedSize = size;
  }
}

struct PropertySuiteHost::Callbacks {
  static int16_t GetProperty(uint32_t vendor, uint32_t key, int32_t index, intptr_t* simple, Handle* complex) {
    PropertySuiteHost* host = activeProperties;
    if (!host) return kUndefined;
    host->reads.emplace_back(key, index);
    if (vendor != kPropertyVendor) return kBadVendor;
    if (auto failure = host->readFailures_.find(key); failure != host->readFailures_.end()) return failure->second;
    if (complex && host->withoutHandle_.count(key)) return 0;
    auto found = host->values_.find({key, index});
    if (found == host->values_.end()) return kUndefined;
    const Value& value = found->second;
    if (value.isHandle) {
      if (!complex) return kUndefined;
      *complex = host->handles_.Make(value.bytes);
      if (host->unlockableHandles) host->handles_.MakeUnlockable(*complex);
      host->lastHandle = *complex;
    } else {
      if (!simple) return kUndefined;
      *simple = value.simple;
    }
    return 0;
  }
  static int16_t SetProperty(uint32_t vendor, uint32_t key, int32_t index, intptr_t simple, Handle complex) {
    PropertySuiteHost* host = activeProperties;
    if (!host) return kUndefined;
    Written written{key, index, simple, complex != nullptr, {}};
    if (complex) written.bytes = host->handles_.Bytes(complex);
    host->writes.push_back(written);
    if (vendor != kPropertyVendor) return kBadVendor;
    if (auto failure = host->writeFailures_.find(key); failure != host->writeFailures_.end()) return failure->second;
    Value& value = host->values_[{key, index}];
    value.isHandle = complex != nullptr;
    value.simple = simple;
    value.bytes = written.bytes;
    return 0;
  }
  static void Unused() {}
};

PropertySuiteHost::PropertySuiteHost(HandleSuiteHost& handles) : handles_(handles) { activeProperties = this; }

PropertySuiteHost::~PropertySuiteHost() {
  if (activeProperties == this) activeProperties = nullptr;
}

const PropertySuiteHost::Table* PropertySuiteHost::Suite() const {
  static const Table table{Callbacks::Unused, Callbacks::GetProperty, Callbacks::SetProperty};
  return &table;
}

void PropertySuiteHost::SetSimple(uint32_t key, int32_t index, intptr_t value) {
  values_[{key, index}] = Value{false, value, {}};
}

void PropertySuiteHost::SetBytes(uint32_t key, int32_t index, std::vector<uint8_t> bytes) {
  values_[{key, index}] = Value{true, 0, std::move(bytes)};
}

void PropertySuiteHost::FailRead(uint32_t key, int16_t code) { readFailures_[key] = code; }
void PropertySuiteHost::FailWrite(uint32_t key, int16_t code) { writeFailures_[key] = code; }
void PropertySuiteHost::ReadWithoutHandle(uint32_t key) { withoutHandle_.insert(key); }

void PropertySuiteHost::ClearFaults() {
  readFailures_.clear();
  writeFailures_.clear();
  withoutHandle_.clear();
  unlockableHandles = false;
}

}  // namespace gm::test
