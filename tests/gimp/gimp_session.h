// GIMP as the tests start it: a private settings folder under the build folder
// whose plug-ins/ holds the plug-in as installed from the build, and nothing of
// the user's.
#pragma once

#include <string>
#include <vector>

#include "cli_files.h"

namespace gimptest {

// A rectangle as GIMP reports it: left, top, width, height.
struct Bounds {
  int x = 0, y = 0, w = 0, h = 0;
};

// "(x y w h)" as the cases note gimp-drawable-mask-intersect's answer.
Bounds ReadBounds(const std::string& path);

// The file the plug-in adds its peak memory to, a line of KiB per run, in the
// sessions RunGimpBatch starts.
std::string PeakLog();

// Runs each Script-Fu expression in GIMP's batch mode without a display, then quits.
clitest::RunResult RunGimpBatch(const std::vector<std::string>& expressions);

}  // namespace gimptest
