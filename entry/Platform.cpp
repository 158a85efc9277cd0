#include "entry/Platform.h"

#ifdef _WIN32
#include <windows.h>

void PlatformMessageBox(const char* caption, const char* text) {
  MessageBoxA(GetActiveWindow(), text, caption, 0);
}

void PlatformDebugOutput(const char* line) { OutputDebugStringA(line); }

#else
#include <cstdio>

namespace {
PlatformMessageSink messageSink = nullptr;
PlatformDebugSink debugSink = nullptr;
}  // namespace

void SetPlatformMessageSink(PlatformMessageSink sink) { messageSink = sink; }
void SetPlatformDebugSink(PlatformDebugSink sink) { debugSink = sink; }

void PlatformMessageBox(const char* caption, const char* text) {
  if (messageSink) {
    messageSink(caption, text);
  } else {
    std::fprintf(stderr, "[%s]\n%s\n", caption, text);
  }
}

void PlatformDebugOutput(const char* line) {
  if (debugSink) {
    debugSink(line);
  } else {
    std::fputs(line, stderr);
  }
}
#endif
