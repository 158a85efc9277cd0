// The support layer's module-wide objects, all in one file because only
// within one file is the order of static construction fixed. Each object's
// clean-up is registered as it is constructed and runs in reverse at unload:
// the holders give their suites back from the last to the first, and the
// leak check runs after all of them. None of the constructors calls the host.
#include "support/MemoryWatcher.h"
#include "support/SuiteHolder.h"

MemoryWatcher memoryWatcher;

namespace {
struct LeakCheckAtUnload {
  LeakCheckAtUnload() = default;
  ~LeakCheckAtUnload() { memoryWatcher.CheckLeaks(); }
} leakCheckAtUnload;
}  // namespace

SuiteHolder suiteDF135115{"df135115-c769-11d0-8079-00c04fd7ec47", 2};
SuiteHolder suiteBC1E4D70{"bc1e4d70-f953-11d0-8d9f-00c04fd5f7ee", 2};
SuiteHolder suiteDF135117{"df135117-c769-11d0-8079-00c04fd7ec47", 2};
SuiteHolder suiteDF135116{"df135116-c769-11d0-8079-00c04fd7ec47", 1};
SuiteHolder suite61E608B0{"61e608b0-40fd-11d1-8da3-00c04fd5f7ee", 1};
SuiteHolder uiHooksSuite{"Photoshop UIHooks Suite for Plug-ins", 1};
SuiteHolder handleSuite{"Photoshop Handle Suite for Plug-ins", 2};
SuiteHolder zstringSuite{"AS ZString Suite", 1};
SuiteHolder accessSuite{"SP Access Suite", 3};
SuiteHolder getFileListSuite{"Photoshop GetFileList Suite for Plug-ins", 4};
SuiteHolder bufferSuite{"Photoshop Buffer Suite for Plug-ins", 1};
SuiteHolder channelPortsSuite{"Photoshop ChannelPorts Suite for Plug-ins", 3};
SuiteHolder runtimeSuite{"SP Runtime Suite", 5};
SuiteHolder propertySuite{"Photoshop Property Suite for Plug-ins", 1};
SuiteHolder aliasUtilitySuite{"Photoshop Alias Utility Suite", 1};
SuiteHolder resourceSuite{"Photoshop Resource Suite for Plug-ins", 3};
