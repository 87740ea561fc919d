#include "platform/process/job_memory.h"

#include <malloc.h>

namespace reel {
namespace {

// Blocks below this size come from the heap rather than from pages of their own: larger than any
// picture of the largest movie size the frame loop handles.
constexpr int kOwnPagesThreshold = 32 << 20;
// Free memory at the top of a heap is returned only beyond this much.
constexpr int kReturnThreshold = 256 << 20;

}  // namespace

void KeepFreedMemoryForReuse() {
  mallopt(M_MMAP_THRESHOLD, kOwnPagesThreshold);
  mallopt(M_TRIM_THRESHOLD, kReturnThreshold);
}

}  // namespace reel
