// What the dialog layer's test module exports for the ui tests, as the test
// program sees it: the records of a recording handler and the signatures of
// the exported functions (looked up by name with GetProcAddress).
#pragma once

#include <windows.h>

#include <cstdint>

#include "abi/HostTypes.h"

class DialogHandler;

// Which hook of a recording handler was called.
constexpr int32_t kHookInit = 1;
constexpr int32_t kHookCommand = 2;  // message holds the item id
constexpr int32_t kHookOther = 3;

struct UiEvent {
  int32_t hook;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

constexpr int32_t kUiLogCapacity = 1024;
struct UiLog {
  int32_t count;
  UiEvent events[kUiLogCapacity];
};

namespace ui_exports {
using HostBasicSuite = SPBasicSuite* (*)();
using ReleaseAllSuites = void (*)();
using ShowAboutBox = int32_t (*)(void* context, int32_t templateId);
using CentreDialog = void (*)(HWND dialog);
using ActiveHandler = DialogHandler* (*)();
using SetActiveHandler = void (*)(DialogHandler* handler);
using Recorder = DialogHandler* (*)(int32_t which);
using RecorderLog = const UiLog* (*)(int32_t which);
using RecorderWindow = HWND (*)(int32_t which);
using RecorderReset = void (*)(int32_t which);
using RecorderNest = void (*)(int32_t outer, int32_t itemId, int32_t inner, int32_t templateId);
using RecorderNestResult = int32_t (*)(int32_t outer);
using RunModal = int32_t (*)(int32_t which, int32_t templateId);
using HandlerItemWindow = HWND (*)(int32_t which, int32_t itemId);
using ModuleDialogBoxParam = intptr_t (*)(HINSTANCE instance, int32_t templateId);
using ItemWindowById = HWND (*)(HWND dialog, int32_t itemId);
using Reply = intptr_t (*)(HWND item);
using ReplyInt = intptr_t (*)(HWND item, int32_t value);
using ReplyText = intptr_t (*)(HWND item, const char* text);
using ReadText = int32_t (*)(HWND item, const char* before, char* after, int32_t capacity);
using IntOf = int32_t (*)(HWND item);
using IntAt = int32_t (*)(HWND item, int32_t index);
using SetData = intptr_t (*)(HWND item, int32_t index, int32_t value);
using RadioCheck = void (*)(int32_t first, int32_t last, HWND dialog, int32_t itemId);
using RadioGetChecked = int32_t (*)(int32_t first, int32_t last, HWND dialog);
}  // namespace ui_exports
