// Helpers for the job tests: a scratch folder, clips made with the ffmpeg tool, a job run to its
// end, and looks at what it wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/qrx_format.h"
#include "converter/engine/conversion_job.h"
#include "tests/support/scratch_folder.h"

namespace reel::test {

// Runs the ffmpeg tool quietly with `arguments` (which name the output); true on success.
bool RunFfmpeg(const std::string& arguments);
bool FfmpegAvailable();

// Seconds of the first audio stream of a file, from ffprobe; nothing when unknown.
std::optional<double> AudioDuration(const std::string& path);

// Default settings for converting `source` into `outputFolder`.
JobSettings SettingsFor(const std::string& source, const std::string& outputFolder);

// Runs a job on its thread to the end and returns its report. With `stopAfterFrames` set, a stop
// is requested once that many frames are done; `frameCoders` overrides the job's default.
JobReport RunJob(const JobSettings& settings, std::optional<int32_t> stopAfterFrames = std::nullopt,
                 uint32_t* exitCode = nullptr, std::optional<unsigned> frameCoders = std::nullopt);

std::vector<uint8_t> ReadBytes(const std::string& path);
QrxHeader ReadHeader(const std::string& moviePath);
// qrxtool verify accepts the movie.
bool Verified(const std::string& moviePath);

}  // namespace reel::test
