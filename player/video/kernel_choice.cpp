#include "player/video/kernel_choice.h"

namespace reel {

bool CpuHasAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool hasAvx2 = __builtin_cpu_supports("avx2") != 0;
  return hasAvx2;
#else
  return false;
#endif
}

}  // namespace reel
