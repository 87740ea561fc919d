// Memory settings for a process that runs conversion jobs.
//
// A job allocates and frees several picture-sized blocks for every frame (source picture, scaled
// picture, JPEG, coefficients). By default the C library hands such blocks back to the system as
// soon as they are freed, so every frame pays for fresh zeroed pages again; on a job's worker
// thread that more than doubles the time of a conversion. Front ends call this once at start-up
// so freed blocks stay in the process for the next frame.
#pragma once

namespace reel {

void KeepFreedMemoryForReuse();

}  // namespace reel
