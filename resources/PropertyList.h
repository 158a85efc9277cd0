// The plug-in property list as the Windows modules carry it, for native code
// (tests, the command-line tool's module information) that has no resources.
#pragma once

#include <cstdint>
#include <span>

// The Win32 list (nine records, 274 bytes) or the Win64 one, which adds the
// x64 entry-point record (ten records, 302 bytes).
std::span<const uint8_t> PropertyListBytes(bool win64);
