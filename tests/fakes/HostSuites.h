// A host's suites as tests offer them to the module: a basic suite that serves
// named suites, and the named suites behind it. Each keeps what a real host
// keeps and counts what the plug-in asked of it, so tests can see the calls
// and plant faults; the C tables reach the most recently made instance.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "abi/Codes.h"
#include "abi/HostTypes.h"
#include "abi/Suites.h"
#include "host/BlockPool.h"

namespace gm::test {

// A call the module made to the basic suite.
struct SuiteCall {
  enum Kind { Acquire, Release } kind;
  std::string name;
  int32_t version;
  int32_t error;
};

// The basic suite, for FilterHost runs (RunOptions::basicSuite) and for tests
// that hand the module a basic suite themselves. Unlike the built-in host's,
// it answers outside a run too.
class BasicSuiteHost {
 public:
  BasicSuiteHost();
  ~BasicSuiteHost();
  BasicSuiteHost(const BasicSuiteHost&) = delete;
  BasicSuiteHost& operator=(const BasicSuiteHost&) = delete;

  SPBasicSuite* BasicSuite();

  // Named suites it serves; unknown names are refused.
  void OfferSuite(const std::string& name, int32_t version, const void* table);
  const std::vector<SuiteCall>& SuiteCalls() const { return suiteCalls_; }

  // Blocks handed out by AllocateBlock and not yet given back.
  size_t OutstandingBlocks() const { return blocks_.size(); }
  size_t OutstandingBytes() const;
  int64_t BlocksAllocated() const { return blocksAllocated_; }
  int64_t BadFrees() const { return badFrees_; }
  // Make the next AllocateBlock calls fail (0 means never).
  void FailAllocationsAfter(int64_t count) { failAfter_ = count; }

 private:
  struct Callbacks;
  BasicSuiteHost* previous_;
  std::map<std::pair<std::string, int32_t>, const void*> suites_;
  std::vector<SuiteCall> suiteCalls_;
  host::BlockPool pool_;
  std::map<void*, size_t> blocks_;
  int64_t blocksAllocated_ = 0;
  int64_t badFrees_ = 0;
  int64_t failAfter_ = 0;
};

// "SP Access Suite", version 3: of its functions the plug-in uses the 3rd
// (plug-in reference to access reference) and the 7th (access information).
class AccessSuiteHost {
 public:
  using Info = AccessInfo;
  using Table = AccessSuite;

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


// "Photoshop Handle Suite for Plug-ins", version 2: movable blocks with a real
// size, a lock count and disposal, every one of them kept for inspection.
class HandleSuiteHost {
 public:
  using Table = HandleSuite;

  HandleSuiteHost();
  ~HandleSuiteHost();
  HandleSuiteHost(const HandleSuiteHost&) = delete;
  HandleSuiteHost& operator=(const HandleSuiteHost&) = delete;

  const Table* Suite() const;

  // A handle holding these bytes, as if the host had made it.
  Handle Make(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> Bytes(Handle handle) const;
  bool Known(Handle handle) const;
  int DisposeCount(Handle handle) const;
  int LockCount(Handle handle) const;
  // Handles made (by the host or through New) and not disposed of.
  size_t Live() const;
  // Dispose calls on a handle already disposed of, or never made here.
  int badDisposals = 0;
  int newCalls = 0;

  // Fault injection.
  bool failNew = false;                             // New gives no handle
  bool newUnlockable = false;                       // New gives a handle that cannot be locked
  void MakeUnlockable(Handle handle);               // locking it yields no pointer
  void ReportSize(Handle handle, int32_t size);     // GetSize answers this instead

 private:
  struct Block {
    std::vector<uint8_t> bytes;
    int disposals = 0;
    int locks = 0;
    bool unlockable = false;
    bool sizeOverridden = false;
    int32_t reportedSize = 0;
  };
  Block* Find(Handle handle) const;
  std::vector<std::unique_ptr<Block>> blocks_;
  struct Callbacks;
};

// "Photoshop Property Suite for Plug-ins", version 1: a document model with a
// value per (key, index), simple or held in a handle, and the calls made to it.
class PropertySuiteHost {
 public:
  using Table = PropertySuite;
  // What a write carried: the simple value and a copy of the handle's bytes.
  struct Written {
    uint32_t key;
    int32_t index;
    intptr_t simple;
    bool hadHandle;
    std::vector<uint8_t> bytes;
  };
  static constexpr OSErr kUndefined = kPropertyUndefined;  // no such property in the document
  static constexpr OSErr kBadVendor = kPropertyBadVendor;

  explicit PropertySuiteHost(HandleSuiteHost& handles);
  ~PropertySuiteHost();
  PropertySuiteHost(const PropertySuiteHost&) = delete;
  PropertySuiteHost& operator=(const PropertySuiteHost&) = delete;

  const Table* Suite() const;

  void SetSimple(uint32_t key, int32_t index, intptr_t value);
  void SetBytes(uint32_t key, int32_t index, std::vector<uint8_t> bytes);
  // Fault injection: a read or write of this key that answers with a code,
  // a handle read that succeeds without a handle.
  void FailRead(uint32_t key, int16_t code);
  void FailWrite(uint32_t key, int16_t code);
  void ReadWithoutHandle(uint32_t key);
  void ClearFaults();
  bool unlockableHandles = false;  // handles read out of the document refuse to lock

  // Keys in the order the plug-in read them.
  std::vector<std::pair<uint32_t, int32_t>> reads;
  std::vector<Written> writes;
  // The handle the last handle read gave out.
  Handle lastHandle = nullptr;

 private:
  struct Value {
    bool isHandle = false;
    intptr_t simple = 0;
    std::vector<uint8_t> bytes;
  };
  HandleSuiteHost& handles_;
  std::map<std::pair<uint32_t, int32_t>, Value> values_;
  std::map<uint32_t, int16_t> readFailures_;
  std::map<uint32_t, int16_t> writeFailures_;
  std::set<uint32_t> withoutHandle_;
  struct Callbacks;
};

}  // namespace gm::test
