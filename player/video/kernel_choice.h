// Which kernels the frame decoder's stages run: the plain C++ ones, kept as the reference that every
// faster kernel is tested against, or the fastest this processor offers (SSE2 colour conversion on
// every x86-64 processor, an AVX2 inverse transform where the processor has AVX2). Both give
// identical pictures; the choice exists so that tests and benchmarks can force the plain path.
#pragma once

namespace reel {

enum class Kernels {
  kPlain,
  kFastest,
};

// True when the AVX2 inverse transform can run here (checked once, at first use).
bool CpuHasAvx2();

}  // namespace reel
