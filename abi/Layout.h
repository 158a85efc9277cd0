// Pins a field's offset for both pointer widths at compile time. Win32
// offsets apply to 4-byte pointers, Win64 offsets to 8-byte pointers (the
// native build shares the Win64 layout).
#pragma once

#include <cstddef>
#include <cstdint>

#if INTPTR_MAX == INT64_MAX
#define GM_AT(w32, w64) (w64)
#else
#define GM_AT(w32, w64) (w32)
#endif
#define GM_PIN(type, field, w32, w64) static_assert(offsetof(type, field) == GM_AT(w32, w64), #type "." #field)
