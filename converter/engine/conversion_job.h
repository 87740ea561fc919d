// CWavFileMake: one conversion job, from an AVI, ".mj" or other video file (read through the media
// framework) to a QRX movie and its companion MP3 or Ogg file, run on a worker thread of its own.
//
// A front end fills the job settings, starts the job through CThreadCtrl and reads the progress
// fields while it runs (plain 32-bit atomics, no lock). The job sets `finished` as its last step,
// whatever the outcome; from then on the report is the front end's to read.
//
// The job writes every output under a temporary name and renames it once complete, so a failed
// or stopped job leaves nothing behind that looks like a movie. A stop request (CThreadCtrl::Stop)
// is honoured between frames and between audio steps.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "converter/choices/job_choices.h"
#include "converter/engine/frame_timing.h"
#include "converter/engine/thread_master.h"

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

// True when `path`'s extension is ".mj" in any case (multibyte characters stepped over).
bool IsMjPath(const std::string& path);

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

class CWavFileMake : public CWinThreadMaster {
 public:
  explicit CWavFileMake(JobSettings settings);
  ~CWavFileMake() override { JoinThread(); }

  // The job body. 0 when the job ran to its end, 1 when it ended without its output (the source
  // could not be read, it was refused, failed or was stopped). Whatever is thrown inside the job,
  // it ends with a report and `finished` set.
  uint32_t RunThread() override;

  const JobSettings& Settings() const { return settings_; }

  // Frames are read on one thread and scaled and coded on `coders` others while the job's thread
  // appends them, and the soundtrack is encoded on one more meanwhile; 0 runs everything on the
  // job's thread alone, the sound after the frames. The movie and the companion are the same
  // either way. The default is FramePipeline::DefaultCoders().
  void SetFrameCoders(unsigned coders) { frameCoders_ = coders; }
  // Valid once `finished` reads 1.
  const JobReport& Report() const { return report_; }

  // Progress, written by the job and read by the front end without a lock.
  std::atomic<int32_t> finished{0};
  std::atomic<int32_t> framesDone{0};
  std::atomic<int32_t> framesTotal{0};
  std::atomic<int32_t> sourceRate{0};  // recorded by the media-framework job only

 private:
  class Run;

  void EndWithoutOutput(JobReport& report, JobStatus status, const char* why, const char* detail = nullptr) const noexcept;

  JobSettings settings_;
  JobReport report_;
  unsigned frameCoders_;
};

}  // namespace reel
