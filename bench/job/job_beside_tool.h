// Runs a conversion job and the ffmpeg tool's nearest job on the same source, one after the other
// in each iteration, and records both sides' wall and processor time (user + system) as counters:
// "vs_ffmpeg" is the job's wall time over the tool's, "cpu_vs_ffmpeg" the same for processor time.
// The machine may be shared, so processor time is the steadier figure.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "converter/engine/conversion_job.h"

namespace reel {

// The ffmpeg tool's command for the job a finished conversion did: decode, keep the source frames
// the movie shows (output frame k shows source frame k x step / 100), scale to the movie's size,
// Motion-JPEG; and, when the source has sound, MP3 at 64 kbit/s, 22050 Hz stereo.
std::string FfmpegEquivalent(const std::string& source, const JobReport& report, bool sound,
                             const std::string& outputStem);

// Each iteration converts `settings` with `coders` coder threads (0: the plain loop; negative: the
// job's default), then runs the tool's command for what the job did.
void ConvertBesideFfmpeg(benchmark::State& state, const JobSettings& settings, int coders, bool sound,
                         const std::string& outputStem);

}  // namespace reel
