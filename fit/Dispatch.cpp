#include <cstdlib>
#include <cstring>
#include <iterator>

#include "fit/FitPlain.h"
#include "fit/Kernels.h"
#include "fit/Variants.h"

namespace {

bool Always() { return true; }

#ifdef GM_FIT_X86
// The compiler's checks include the operating system's consent to save the
// wider registers, not only the processor's feature bits.
bool HasSse2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
}
bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
bool HasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl");
}
#endif

const FitKernel kKernels[] = {
    {"plain", FitGlyphsPlain, Always},
    {"generic", FitGeneric, Always},
#ifdef GM_FIT_X86
    {"sse2", FitSse2, HasSse2},
    {"avx2", FitAvx2, HasAvx2},
    {"avx512", FitAvx512, HasAvx512},
#endif
#ifdef GM_FIT_ARM64
    {"neon", FitNeon, Always},
#endif
#ifdef GM_FIT_WASM128
    // Only the SIMD module has it, and only an engine with SIMD loads that.
    {"wasm128", FitWasm128, Always},
#endif
};

}  // namespace

std::span<const FitKernel> FitKernels() { return kKernels; }

const FitKernel& PickFitKernel(const char* requested) {
  const FitKernel* best = &kKernels[0];
  for (const FitKernel& k : kKernels) {
    if (!k.supported()) continue;
    // A forced variant this processor cannot run would crash the host, so
    // such a request falls back to the best supported one.
    if (requested && std::strcmp(requested, k.name) == 0) return k;
    best = &k;
  }
  return *best;
}

const FitKernel& ChosenFitKernel() {
  static const FitKernel& chosen = PickFitKernel(std::getenv("GLYPHMOSAIC_KERNEL"));
  return chosen;
}
