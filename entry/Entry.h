// The host-facing entry point, its phase handlers and the module-wide values
// every other part of the module reads instead of passing host pointers around.
#pragma once

#include "abi/Codes.h"
#include "abi/HostTypes.h"

extern int16_t* hostResult;
extern intptr_t* hostData;
extern FilterRecord* hostFilterRecord;
extern SPBasicSuite* hostBasicSuite;

extern "C" void PluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result);

void ShowAboutMessage();
void PrepareFilter();
void FilterTiles();
void ContinueFilter();

// The About phase's text, three lines.
extern const char kAboutCaption[];
extern const char kAboutText[];
