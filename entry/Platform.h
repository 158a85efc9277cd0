// The few window-system services the filter path needs, kept behind plain
// functions so that the native build can run the same code without Windows.
#pragma once

// A modal message box owned by the active window: no icon, one OK button.
void PlatformMessageBox(const char* caption, const char* text);

// One line to the debugger output.
void PlatformDebugOutput(const char* line);

#ifndef _WIN32
// Native builds have no message box or debugger: the text goes to standard
// error unless a sink takes it (tests record it, the command-line tool prints it).
using PlatformMessageSink = void (*)(const char* caption, const char* text);
using PlatformDebugSink = void (*)(const char* line);
void SetPlatformMessageSink(PlatformMessageSink sink);
void SetPlatformDebugSink(PlatformDebugSink sink);
#endif
