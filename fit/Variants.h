// The fast variants' entry points, for the variant table in Dispatch.cpp.
// GM_FIT_X86, GM_FIT_ARM64 and GM_FIT_WASM128 come from fit/CMakeLists.txt,
// which builds each instruction set's variants only when it defines its name.
#pragma once

#include <cstdint>

void FitGeneric(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
#ifdef GM_FIT_X86
void FitSse2(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
void FitAvx2(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
void FitAvx512(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
#endif
#ifdef GM_FIT_ARM64
void FitNeon(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
#endif
#ifdef GM_FIT_WASM128
void FitWasm128(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);
#endif
