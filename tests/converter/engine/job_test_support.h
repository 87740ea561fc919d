// Helpers for the job tests: a job run to its end, its default settings, and the length of the
// sound it wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "converter/engine/conversion_job.h"

namespace reel::test {

// Seconds of the first audio stream of a file, from ffprobe; nothing when unknown.
std::optional<double> AudioDuration(const std::string& path);

// Default settings for converting `source` into `outputFolder`.
JobSettings SettingsFor(const std::string& source, const std::string& outputFolder);

// Runs a job on its thread to the end and returns its report. With `stopAfterFrames` set, a stop
// is requested once that many frames are done; `frameCoders` overrides the job's default.
JobReport RunJob(const JobSettings& settings, std::optional<int32_t> stopAfterFrames = std::nullopt,
                 uint32_t* exitCode = nullptr, std::optional<unsigned> frameCoders = std::nullopt);

}  // namespace reel::test
