// The built-in host: plays the host application's part for a filter module,
// on an in-memory image, through the module's entry point and nothing else.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "abi/Codes.h"
#include "abi/HostTypes.h"
#include "host/BlockPool.h"
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
  // The share of the run done, from 0 to 1, after each row of tiles.
  std::function<void(double fraction)> progress;
  // The basic suite the plug-in gets. The host's own (blocks of memory, no
  // named suites) when null; a caller that serves named suites passes its own.
  SPBasicSuite* basicSuite = nullptr;
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

// "-30100 (filterBadParameters)": a result code as people read it.
std::string DescribeResult(int code);
// The one line a front end shows for a run that did not succeed.
std::string DescribeFailure(const RunReport& report);

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

 private:
  struct RunState;
  struct Callbacks;
  struct Active;

  OSErr Deliver(RunState& state);
  void WriteBack(RunState& state);
  void Call(int16_t selector, void* record, RunReport& report);

  PluginEntry entry_;
  intptr_t data_ = 0;
  BlockPool blocks_;
  RunState* run_ = nullptr;
};

}  // namespace gm::host
