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
#include "converter/engine/frame_timing.h"
#include "converter/engine/job_settings.h"
#include "converter/engine/thread_master.h"

namespace reel {

// True when `path`'s extension is ".mj" in any case (multibyte characters stepped over).
bool IsMjPath(const std::string& path);

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
  void EndWithoutOutput(JobReport& report, JobStatus status, const char* why, const char* detail = nullptr) const noexcept;

  JobSettings settings_;
  JobReport report_;
  unsigned frameCoders_;
};

}  // namespace reel
