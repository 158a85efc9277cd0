// The host-facing entry point, its phase handlers and the module-wide values
// every other part of the module reads instead of passing host pointers around.
#pragma once

#include "abi/Codes.h"
#include "abi/HostTypes.h"

extern int16_t* hostResult;
extern intptr_t* hostData;
extern FilterRecord* hostFilterRecord;
extern SPBasicSuite* hostBasicSuite;

// Catches whatever a phase raises and reports it as the result: a thrown
// 16- or 32-bit code as that code when it is a 16-bit failure code,
// std::bad_alloc as memFullErr, anything else as filterBadParameters.
extern "C" void PluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result);

// Runs at the start of every phase, after the module-wide values are set.
// Only tests set it, to raise from inside a phase.
using PhaseHook = void (*)(int16_t selector);
extern PhaseHook phaseHook;

void ShowAboutMessage();
void PrepareFilter();
void FilterTiles();
void ContinueFilter();

// The About phase's text, three lines.
extern const char kAboutCaption[];
extern const char kAboutText[];
