// Extra exports of the test build of the module (GlyphMosaicTest.8bf): access
// to moduleInstance, so that a test host can watch what DllMain stores, and a
// phase hook that raises, so that it can watch the entry point's boundary.
// Never part of the shipped module.
#include <cstdint>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include "entry/Entry.h"
#include "support/ModuleInstance.h"

extern "C" HINSTANCE TestGetModuleInstance() { return moduleInstance; }
extern "C" void TestSetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }

namespace {
int raiseKind = 0;
uint32_t raiseValue = 0;

// Raised here, inside the module, so that the module's own runtime unwinds.
void RaiseInPhase(int16_t) {
  switch (raiseKind) {
    case 1: throw static_cast<int16_t>(raiseValue);
    case 2: throw raiseValue;
    case 3: throw std::bad_alloc();
    case 4: throw std::runtime_error("raised");
    case 5: throw std::bad_cast();
    default: throw static_cast<int>(raiseValue);
  }
}
}  // namespace

// kind 0 stops raising; 1 a signed 16-bit code, 2 an unsigned 32-bit code,
// 3 std::bad_alloc, 4 std::runtime_error (whose message is allocated through
// the host), 5 std::bad_cast, 6 a plain int.
extern "C" void TestRaiseInPhases(int kind, uint32_t value) {
  raiseKind = kind;
  raiseValue = value;
  phaseHook = kind ? RaiseInPhase : nullptr;
}
