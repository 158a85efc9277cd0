#include "support/SuiteHolder.h"

#include "entry/Entry.h"

SuiteHolder::SuiteHolder(const char* suiteName, int32_t suiteVersion)
    : suite(nullptr), version(suiteVersion), name(suiteName), acquireError(0) {}

SuiteHolder::~SuiteHolder() { Release(); }

void SuiteHolder::Acquire() {
  if (!hostBasicSuite) throw kNoBasicSuiteError;
  acquireError = hostBasicSuite->AcquireSuite(name, version, &suite);
  if (acquireError != 0) throw static_cast<uint32_t>(acquireError);
}

const void* SuiteHolder::Get() {
  if (!suite) Acquire();
  return suite;
}

void SuiteHolder::Release() {
  // Without a basic suite the pointer is kept, so a later release can still give it back.
  if (!suite || !name || !hostBasicSuite) return;
  hostBasicSuite->ReleaseSuite(name, version);
  suite = nullptr;
}

void ReleaseAllSuites() {
  SuiteHolder* const order[] = {
      &suiteDF135115, &suiteBC1E4D70,    &suiteDF135117,     &suiteDF135116, &suite61E608B0, &handleSuite,
      &uiHooksSuite,  &zstringSuite,     &accessSuite,       &getFileListSuite, &bufferSuite, &channelPortsSuite,
      &runtimeSuite,  &propertySuite,    &aliasUtilitySuite, &resourceSuite,
  };
  for (SuiteHolder* holder : order) holder->Release();
}
