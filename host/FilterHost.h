// The built-in host: plays the host application's part for a filter module,
// on an in-memory image, through the module's entry point and nothing else.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "abi/Codes.h"
#include "abi/HostTypes.h"
#include "io/Image.h"

namespace gm::host {

using PluginEntry = void (*)(int16_t selector, void* record, intptr_t* data, int16_t* result);

// What the host tells the plug-in it prefers, and how it delivers pixels.
struct RunOptions {
  std::optional<VRect> filterRect;  // a selection's bounding box; whole image when empty
  int16_t tileWidth = 256;
  int16_t tileHeight = 256;
  bool bigDocument = true;  // offer 32-bit coordinates
  // Bytes the host adds after each delivered row. With none, the planes of a
  // three-channel image are handed out in place, as real hosts do.
  int32_t rowPadding = 0;
  // For images with a fourth channel: true treats it as a layer's
  // transparency, false as an extra channel of a flat image.
  bool alphaIsTransparency = true;
  std::function<bool()> abort;
  std::function<void(int32_t done, int32_t total)> progress;
};

// One buffer handed to the plug-in by advanceState (or before Continue).
struct Delivery {
  VRect rect;
  int16_t loPlane = 0;
  int16_t hiPlane = 0;
  int32_t rowBytes = 0;
  bool inPlace = false;  // a pointer into the image itself, not a copy
};

struct RunReport {
  int16_t result = noErr;     // the plug-in's result for the phase that ended the run
  int16_t lastSelector = 0;   // that phase
  int16_t hostError = noErr;  // non-zero when the host refused a request or the document
  std::vector<Delivery> deliveries;
  int32_t progressCalls = 0;
  int32_t abortPolls = 0;
  int32_t continueCalls = 0;
  int64_t paddingBytesTouched = 0;  // bytes past a row's pixels that the plug-in changed
  bool Succeeded() const { return result == noErr && hostError == noErr; }
};

// A call the module made to the basic suite, for tests to inspect.
struct SuiteCall {
  enum Kind { Acquire, Release } kind;
  std::string name;
  int32_t version;
  int32_t error;
};

class FilterHost {
 public:
  explicit FilterHost(PluginEntry entry);
  ~FilterHost();
  FilterHost(const FilterHost&) = delete;
  FilterHost& operator=(const FilterHost&) = delete;

  // A whole filter run in the order a host application makes it:
  // Parameters, Prepare, Start, Continue while more is asked for, Finish.
  RunReport Run(Image& image, const RunOptions& options = {});

  // The About phase; returns the result the plug-in left.
  int16_t About();

  // Named suites the basic suite serves; unknown names are refused.
  void OfferSuite(const std::string& name, int32_t version, const void* table);
  const std::vector<SuiteCall>& SuiteCalls() const { return suiteCalls_; }
  void ClearSuiteCalls() { suiteCalls_.clear(); }

  // Blocks handed out by AllocateBlock and not yet given back.
  size_t OutstandingBlocks() const { return blocks_.size(); }
  size_t OutstandingBytes() const;
  int64_t BlocksAllocated() const { return blocksAllocated_; }
  int64_t BadFrees() const { return badFrees_; }
  // Make the next AllocateBlock calls fail (0 means never).
  void FailAllocationsAfter(int64_t count) { failAfter_ = count; }

  SPBasicSuite* BasicSuite();

  // The basic suite's functions route to the most recently active host.
  struct Callbacks;

 private:
  struct RunState;

  OSErr Deliver(RunState& state);
  void WriteBack(RunState& state);
  void Call(int16_t selector, void* record, RunReport& report);

  PluginEntry entry_;
  intptr_t data_ = 0;
  std::map<std::pair<std::string, int32_t>, const void*> suites_;
  std::vector<SuiteCall> suiteCalls_;
  std::map<void*, size_t> blocks_;
  int64_t blocksAllocated_ = 0;
  int64_t badFrees_ = 0;
  int64_t failAfter_ = 0;
  RunState* run_ = nullptr;
};

}  // namespace gm::host
