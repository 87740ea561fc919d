// The conversion job's one sequence, the same for every source kind: the quality step, the
// source opened into its plan (job_plan.h), then the plan run: reset the progress, refuse outputs
// over the source, start the sound task, and for each step in turn check for a stop and write the
// movie or take the companion; at the end every output is stored under its real name at once.
//
// Every stage returns a Status; the first error ends the run and becomes the report's text. A stop
// request ends it with the thread framework's exception (CheckKilled), which the job turns into
// its report.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/result.h"
#include "converter/engine/job_plan.h"
#include "converter/engine/job_settings.h"
#include "converter/engine/sound_task.h"
#include "converter/engine/staged_output.h"

namespace reel {

class MovieBuilder;

// What a sequence needs of the job it runs for: the progress fields the front end reads, and the
// stop request it polls.
class JobControl {
 public:
  virtual ~JobControl() = default;
  // Throws the thread framework's stop exception once a stop was requested.
  virtual void CheckStop() const = 0;
  virtual bool StopRequested() const = 0;
  virtual std::atomic<int32_t>& FramesDone() = 0;
  virtual std::atomic<int32_t>& FramesTotal() = 0;
  virtual std::atomic<int32_t>& SourceRate() = 0;
};

class JobSequence {
 public:
  // `frameCoders` as CWavFileMake::SetFrameCoders takes it (0: everything on the job's thread).
  JobSequence(JobSettings& settings, JobControl& control, unsigned frameCoders, JobReport& report)
      : settings_(settings), control_(control), frameCoders_(frameCoders), report_(report) {}

  Status Execute();

 private:
  Status TakeJpegQuality();
  Result<JobPlan> OpenPlan();
  Status RunPlan(const JobPlan& plan);
  Status RefuseOutputsOverSource(const JobPlan& plan) const;

  // movie_writing.cpp
  Status WriteMovie(const MovieStep& step);
  Status AddFirstFrame(MovieBuilder& movie, const MovieStep& step);
  Status PlainLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const PictureSource& picture);
  Status ThreadedLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const MovieStep& step);
  void ReportMovie(const MovieBuilder& movie, const FrameTiming& timing, const StagedOutput& file);

  Status TakeCompanion(SoundTask& task);
  // Whether the sound is encoded on a thread of its own while the frames are coded.
  bool SoundOverlaps() const { return frameCoders_ != 0; }

  JobSettings& settings_;
  JobControl& control_;
  unsigned frameCoders_;
  JobReport& report_;
  // Every output of the run, stored under its real name only when the whole run has succeeded.
  StagedOutputs outputs_;
};

}  // namespace reel
