// Function tables of the named suites a host offers through
// SPBasicSuite::AcquireSuite, for those whose functions the module or the
// built-in host call, as far as they call them. Unused functions keep their
// slots so that the used ones sit at the host's offsets.
#pragma once

#include <cstdint>

#include "abi/HostTypes.h"
#include "abi/Layout.h"

// Access suite: the 3rd function turns a plug-in reference into an access
// reference, the 7th describes it.
using AccessRef = void*;
// Either of the first two words may hold the module's handle; pointer-sized
// so that a 64-bit host can put a whole handle in them.
struct AccessInfo {
  uintptr_t words[3];
};
struct AccessSuite {
  void (*unused1)();
  void (*unused2)();
  int32_t (*GetPluginAccess)(void* plugin, AccessRef* access);
  void (*unused4)();
  void (*unused5)();
  void (*unused6)();
  int32_t (*GetAccessInfo)(AccessRef access, AccessInfo* info);
};

// Handle suite: movable blocks of the host's memory.
struct HandleSuite {
  Handle (*New)(int32_t size);
  void (*Dispose)(Handle handle);
  void (*unused3)();
  void (*SetLock)(Handle handle, Boolean lock, char** address, Boolean* oldLock);
  int32_t (*GetSize)(Handle handle);
};

// Property suite: document properties by vendor, key and index. Simple values
// are pointer-sized, as the host's are, so a 64-bit host never writes past a
// 32-bit value.
struct PropertySuite {
  void (*unused1)();
  OSErr (*GetProperty)(uint32_t vendor, uint32_t key, int32_t index, intptr_t* simple, Handle* complex);
  OSErr (*SetProperty)(uint32_t vendor, uint32_t key, int32_t index, intptr_t simple, Handle complex);
};

// Four characters as one value, first character in the most significant byte,
// as property keys and vendors are written.
constexpr uint32_t FourCharCode(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}
// The only vendor whose properties the module reads and writes.
constexpr uint32_t kPropertyVendor = FourCharCode("8BIM");

// GetFileList suite: the 4th function opens an address in the web browser.
struct GetFileListSuite {
  void (*unused1)();
  void (*unused2)();
  void (*unused3)();
  int16_t (*BrowseUrl)(const char* address);
};

GM_PIN(AccessSuite, GetPluginAccess, 8, 16);
GM_PIN(AccessSuite, GetAccessInfo, 24, 48);
static_assert(sizeof(AccessInfo) == GM_AT(12, 24));
GM_PIN(HandleSuite, New, 0, 0);
GM_PIN(HandleSuite, Dispose, 4, 8);
GM_PIN(HandleSuite, SetLock, 12, 24);
GM_PIN(HandleSuite, GetSize, 16, 32);
GM_PIN(PropertySuite, GetProperty, 4, 8);
GM_PIN(PropertySuite, SetProperty, 8, 16);
GM_PIN(GetFileListSuite, BrowseUrl, 12, 24);
