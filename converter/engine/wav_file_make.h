// CWavFileMake: one conversion job, from an AVI or ".mj" source to a QRX movie and its companion
// MP3 file, run on a worker thread of its own.
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

#include "converter/engine/thread_master.h"

namespace reel {

inline constexpr int32_t kSourceKindVideoFile = 0;
inline constexpr int32_t kSourceKindMj = 1;
// Quality entries "100%" ... "5%".
inline constexpr int32_t kQualityLevels = 20;
// An AVI holds at most this many streams as far as a job is concerned; more are left unused.
inline constexpr uint32_t kMaxStreams = 50;

struct JobSettings {
  int32_t sourceKind = kSourceKindVideoFile;  // 1 for a ".mj" file
  std::string sourcePath;
  std::string outputFolder;  // no trailing "/"
  int32_t frameRateChoice = 0;    // 0: at most 15 fps, 1: at most 30, 2: at most 10
  int32_t pictureSizeChoice = 0;  // 0: 320 x 240, 1: 640 x 480
  int32_t audioBitRateIndex = 3;  // into the BIT list, "64/32kbit" by default
  int32_t audioRateFlag = 0;      // 1: 44100 Hz, else 22050 Hz
  int32_t stereoFlag = 1;
  int32_t pictureQuality = 10;    // the quality entry's index (0 = "100%"); becomes the JPEG quality
  int32_t forceDirectShow = 0;    // read through the media framework instead of the AVI layer
  // Read only by the media-framework job.
  int32_t encoderChoice = 0;      // 0: MP3, 1: Ogg
  int32_t playbackMode = 0;
  int32_t frameRateOverride = 0;
};

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
  // could not be read as an AVI or ".mj" file, it was refused, failed or was stopped).
  uint32_t RunThread() override;

  const JobSettings& Settings() const { return settings_; }

  // Frames are read on one thread and scaled and coded on `coders` others while the job's thread
  // appends them; 0 runs the plain loop on the job's thread alone. The movie is the same either
  // way. The default is FramePipeline::DefaultCoders().
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

  JobSettings settings_;
  JobReport report_;
  unsigned frameCoders_;
};

}  // namespace reel
