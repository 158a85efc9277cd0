// Extra exports of the test build of the module (GlyphMosaicTest.8bf): access
// to moduleInstance, so that a test host can watch what DllMain stores.
// Never part of the shipped module.
#include "support/ModuleInstance.h"

extern "C" HINSTANCE TestGetModuleInstance() { return moduleInstance; }
extern "C" void TestSetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }
