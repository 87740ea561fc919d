// Runs a conversion job and the ffmpeg tool's nearest job on the same source, one after the other
// in each iteration, and records both sides' wall and processor time (user + system) as counters:
// "vs_ffmpeg" is the job's wall time over the tool's, "cpu_vs_ffmpeg" the same for processor time.
// The machine may be shared, so processor time is the steadier figure.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "converter/engine/conversion_job.h"

namespace reel {

// The ffmpeg tool's command for the job a finished conversion did, taken from its report: decode,
// keep the source frames the movie shows (output frame k shows source frame k x step / 100, the
// step from the report's source and movie rates), give them the movie's rate, scale to the movie's
// size, stop at the movie's frame count, Motion-JPEG; and, when the source has sound, MP3 at
// 64 kbit/s, 22050 Hz stereo, in the same run. Checked on the shared AVIs: the tool writes as many
// frames as the movie holds, at its size and rate (a 25 fps source: 240 frames at 12 fps, source
// frames 0, 2, 4, ... 14, 16, 18 as the job's step of 2.08 picks them).
// What still differs, and why it is the nearest job the tool can do: the tool scales the decoded
// YUV planes directly (bicubic) and codes each frame once, where the job converts to 24-bit RGB,
// scales by area averaging, compresses a JPEG, parses it back and codes the frame; the tool's
// Motion-JPEG runs at a fixed quantiser (-q:v 4) rather than a quality of 50; and a media-framework
// job that steps its source shows source frames (k + 1) x step rather than k x step, the same
// number of frames one step later.
std::string FfmpegEquivalent(const std::string& source, const JobReport& report, bool sound,
                             const std::string& outputStem);

// Each iteration converts `settings` with `coders` coder threads (0: the plain loop; negative: the
// job's default), then runs the tool's command for what the job did.
void ConvertBesideFfmpeg(benchmark::State& state, const JobSettings& settings, int coders, bool sound,
                         const std::string& outputStem);

}  // namespace reel
