// Named host suites, held module-wide and acquired on first use.
#pragma once

#include <cstdint>

class SuiteHolder {
 public:
  SuiteHolder(const char* suiteName, int32_t suiteVersion);
  ~SuiteHolder();
  SuiteHolder(const SuiteHolder&) = delete;
  SuiteHolder& operator=(const SuiteHolder&) = delete;

  // The suite's function table, acquired from the host the first time.
  // Raises the host's refusal code, or 0x5061726D without a basic suite, as uint32_t.
  const void* Get();
  void Release();

  const void* suite;
  int32_t version;
  const char* name;
  int32_t acquireError;  // kept for a debugger; nothing reads it

 private:
  void Acquire();
};

// Raised when a suite is asked for before the host has handed over its basic suite.
constexpr uint32_t kNoBasicSuiteError = 0x5061726D;  // 'Parm'

extern SuiteHolder suiteDF135115;
extern SuiteHolder suiteBC1E4D70;
extern SuiteHolder suiteDF135117;
extern SuiteHolder suiteDF135116;
extern SuiteHolder suite61E608B0;
extern SuiteHolder uiHooksSuite;
extern SuiteHolder handleSuite;
extern SuiteHolder zstringSuite;
extern SuiteHolder accessSuite;
extern SuiteHolder getFileListSuite;
extern SuiteHolder bufferSuite;
extern SuiteHolder channelPortsSuite;
extern SuiteHolder runtimeSuite;
extern SuiteHolder propertySuite;
extern SuiteHolder aliasUtilitySuite;
extern SuiteHolder resourceSuite;

// Gives every held suite back; the handle suite goes before the UI hooks suite.
void ReleaseAllSuites();
