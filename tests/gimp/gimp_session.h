// GIMP as the tests start it: a private settings folder under the build folder
// whose plug-ins/ holds the plug-in as installed from the build, and nothing of
// the user's.
#pragma once

#include <string>
#include <vector>

namespace gimptest {

// A rectangle as GIMP reports it: left, top, width, height.
struct Bounds {
  int x = 0, y = 0, w = 0, h = 0;
};

// "(x y w h)" as the cases note gimp-drawable-mask-intersect's answer.
Bounds ReadBounds(const std::string& path);

struct Run {
  int exitCode = -1;
  std::string log;  // GIMP's standard output and error
};

// Runs a program with these variables set besides the test's own, its output
// and errors into logPath.
Run RunProgram(std::vector<std::string> args, const std::vector<std::string>& environment,
               const std::string& logPath);

// The file the plug-in adds its peak memory to, a line of KiB per run, in the
// sessions RunGimpBatch starts.
std::string PeakLog();

// Runs each Script-Fu expression in GIMP's batch mode without a display, then quits.
Run RunGimpBatch(const std::vector<std::string>& expressions, const std::string& logPath);

}  // namespace gimptest
