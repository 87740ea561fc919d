// One run of the conversion job's body, internal to the engine: the job's settings and progress,
// and the report being built. Its stages live in the files named for them: conversion_job.cpp
// (the first steps and the choice of source), avi_job.cpp, mj_job.cpp, media_graph_job.cpp,
// movie_writing.cpp (the frame loops) and companion_writing.cpp (the companion files).
//
// Every stage returns a Status; the first error ends the run and becomes the report's text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "converter/coder/bmp_image.h"
#include "converter/engine/conversion_job.h"
#include "converter/engine/frame_timing.h"
#include "converter/engine/mj_sound.h"
#include "converter/engine/sound_task.h"
#include "converter/engine/staged_output.h"
#include "platform/acm/wave_format.h"
#include "platform/avifile/avi_file.h"

namespace reel {

class MovieBuilder;

// Thrown by a picture source whose source can give no more pictures at all (a wait that ran out):
// the movie being written is abandoned and the error becomes the job's.
struct PictureSourceFailure {
  Error error;
};

class CWavFileMake::Run {
 public:
  Run(CWavFileMake& job, JobReport& report) : job_(job), settings_(job.settings_), report_(report) {}

  // The whole job: the quality step, then the AVI, ".mj" or media-framework job.
  Status Execute();

 private:
  // The source picture of output frame k, none when it cannot be read or decoded. Called for
  // k = 0, 1, ... in order, never two at once; it may throw PictureSourceFailure.
  using PictureSource = std::function<std::optional<BmpImage>(uint32_t)>;
  // The movie's size from the first picture (none when it was missing).
  using SizeFit = std::function<PictureSize(const std::optional<BmpImage>&)>;

  struct StreamEntry {
    uint32_t index = 0;
    AviStreamInfo info;
    std::vector<uint8_t> format;
    std::optional<AviFrameReader> reader;  // a video stream's frames, opened by the checks
  };

  // conversion_job.cpp
  Status TakeJpegQuality();
  Error SourceError(ErrorKind kind, const std::string& what) const;
  std::string OutputName(const char* extension) const;
  Status RefuseOutputOverSource(const char* extension) const;

  // avi_job.cpp
  Status RunVideoFile();
  std::vector<StreamEntry> StreamTable(const AviFile& file);
  Status CheckStreams(AviFile& file, std::vector<StreamEntry>& streams);
  Status VideoSteps(StreamEntry& stream);

  // mj_job.cpp
  // What a ".mj" companion is made from: where the sound lies, and the warnings that gives, in
  // the order the job reports them.
  struct MjSoundPlan {
    MjSoundLayout layout;
    std::vector<std::string> warnings;
  };
  Status RunMj();
  static MjSoundPlan PlanMjSound(const MjFile& mj);

  // media_graph_job.cpp
  Status RunMediaGraph();

  // movie_writing.cpp
  Status WriteMovie(const FrameTiming& timing, std::optional<PictureSize> size, const PictureSource& picture,
                    const SizeFit& fit);
  Status AddFirstFrame(MovieBuilder& movie, const PictureSource& picture, const SizeFit& fit);
  Status PlainLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const PictureSource& picture);
  Status ThreadedLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const PictureSource& picture);
  void ReportMovie(const MovieBuilder& movie, const FrameTiming& timing, const StagedOutput& file);

  // companion_writing.cpp: the companions made in pieces, on the sound task. The work functions
  // touch nothing of the run but its settings, so they may run beside the frame loop.
  CompanionResult AviCompanion(const AviFile& file, const StreamEntry& stream, const SoundTask::StopCheck& stopped) const;
  CompanionResult MjCompanion(const MjSoundPlan& plan, const SoundTask::StopCheck& stopped) const;
  CompanionResult MediaCompanion(const SoundTask::StopCheck& stopped) const;
  CompanionResult EmptyCompanion(CompanionResult result, const WAVEFORMATEX& format) const;
  Status TakeCompanion(SoundTask& task);
  // Whether the sound is encoded on a thread of its own while the frames are coded.
  bool SoundOverlaps() const;
  bool JobStopped() const;

  CWavFileMake& job_;
  JobSettings& settings_;
  JobReport& report_;
  // Every output of the run, stored under its real name only when the whole run has succeeded.
  StagedOutputs outputs_;
};

}  // namespace reel
