// A conversion job's settings, as a front end fills them, and the report the job leaves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "converter/choices/job_choices.h"

namespace reel {

// An AVI holds at most this many streams as far as a job is concerned; more are left unused.
inline constexpr uint32_t kMaxStreams = 50;

struct JobSettings {
  SourceKind sourceKind = SourceKind::kVideoFile;
  std::string sourcePath;
  std::string outputFolder;  // no trailing "/"
  FrameRateChoice frameRateChoice = FrameRateChoice::kStandard;
  PictureSizeChoice pictureSizeChoice = PictureSizeChoice::k320x240;
  int32_t audioBitRateIndex = kDefaultBitRateIndex;  // into the BIT list, "64/32kbit" by default
  AudioRate audioRate = AudioRate::k22050;
  Channels channels = Channels::kStereo;
  // On entry the quality entry's index (0 = "100%"); the job's first step replaces it by the JPEG
  // quality.
  int32_t pictureQuality = 10;
  bool forceDirectShow = false;  // read through the media framework instead of the AVI layer
  // Read only by the media-framework job.
  AudioEncoder encoderChoice = AudioEncoder::kMp3;
  PlaybackMode playbackMode = PlaybackMode::kFrameSync;
  FrameRateOverride frameRateOverride = FrameRateOverride::kAutomatic;

  // How the companion file is encoded.
  SoundSettings Sound() const {
    return {encoderChoice, audioBitRateIndex, audioRate == AudioRate::k44100, channels == Channels::kStereo};
  }
};

// The JPEG quality of a quality entry's index: 100 - 5 x index, or a usage error for an index
// outside the 20 entries.
Result<int32_t> JpegQualityForLevel(int32_t qualityIndex);

enum class JobStatus { kSucceeded, kFailed, kStopped };

struct JobReport {
  JobStatus status = JobStatus::kFailed;
  std::string error;                  // why the job failed, empty otherwise
  std::vector<std::string> warnings;  // what went wrong without stopping the job
  std::string moviePath;              // empty when no movie was written
  uint32_t frames = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t sourceRate = 0;
  uint32_t movieRate = 0;
  uint64_t movieBytes = 0;
  std::string audioPath;              // the last companion file written
  uint64_t audioBytes = 0;
};

}  // namespace reel
