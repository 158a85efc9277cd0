// The variants of the glyph-fitting kernel, one per instruction set, and the
// single place that picks one. Every variant rewrites the buffer exactly as
// FitGlyphsPlain does; they differ only in speed.
#pragma once

#include <cstdint>
#include <span>

// width and height are pixel counts; rowBytes may be padded or negative.
using FitFunction = void (*)(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes);

struct FitKernel {
  const char* name;
  FitFunction fit;
  bool (*supported)();  // whether this processor and system can run it
};

// Every variant built into this binary, slowest first: plain, generic, and on
// x86 sse2, avx2, avx512, on 64-bit ARM neon, in the WebAssembly SIMD module wasm128.
std::span<const FitKernel> FitKernels();

// The variant FitGlyphs runs, chosen on first use: the one GLYPHMOSAIC_KERNEL
// names when this processor supports it, otherwise the last supported one.
const FitKernel& ChosenFitKernel();

// The choice itself, without caching, for tests.
const FitKernel& PickFitKernel(const char* requested);
