// What a source opens into before anything is written: its plan. Each source kind (AVI, ".mj",
// media framework) has its own opener; one sequence (job_sequence.h) runs every plan the same way.
//
// A plan is a list of steps in the order their files are taken: a movie (its timing, its size or
// the fit made on its first picture, its picture source) or a companion (the work that makes it,
// run on the sound task). An AVI file gives a step for each stream in file order; the other kinds
// give a movie and then its companion. The plan holds its source open: its steps' functions own
// what they read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/result.h"
#include "converter/coder/bmp_image.h"
#include "converter/engine/frame_timing.h"
#include "converter/engine/job_settings.h"
#include "converter/engine/source_picture.h"
#include "converter/engine/sound_task.h"

namespace reel {

// The source picture of output frame k: a picture, none when it cannot be read or decoded (the
// frame before it repeats), or an error when the source can give no more pictures at all (a wait
// that ran out), which abandons the movie and becomes the job's error. Called for k = 0, 1, ...
// in order, never two at once.
using PictureSource = std::function<Result<std::optional<BmpImage>>(uint32_t)>;
// The same pictures as the PictureSource's, each possibly with its colour conversion left to the
// thread that codes it; called in the same order, and taking turns with the PictureSource on the
// same frame numbers (the first frame from one, the rest from the other).
using LatePictureSource = std::function<Result<std::optional<SourcePicture>>(uint32_t)>;
// The movie's size from the first picture (none when it was missing).
using SizeFit = std::function<PictureSize(const std::optional<BmpImage>&)>;
// Takes back a source picture that has been coded, whose bytes may serve a later picture. Called
// from any coder thread, at the same time as the picture source.
using PictureReturn = std::function<void(BmpImage)>;

struct MovieStep {
  FrameTiming timing;
  std::optional<PictureSize> size;  // the size, when it is known before the first picture
  SizeFit fit;                      // else the fit on the first picture
  PictureSource picture;
  PictureReturn giveBack = {};  // none: coded pictures are dropped
  LatePictureSource latePicture = {};  // none: the threaded loop takes `picture`'s pictures
};

struct CompanionStep {
  SoundTask::Work work;
};

struct JobPlan {
  std::vector<std::string> warnings;    // found while opening, reported first
  std::optional<uint32_t> sourceRate;   // the progress field's source rate, when the kind records it
  std::vector<std::string> outputs;     // the extensions of the outputs, none of which may be the source
  std::vector<std::variant<MovieStep, CompanionStep>> steps;
};

// The openers. Each checks everything that refuses the job (a source that cannot be read, a rate
// of 0, a movie too long for its index, a size that cannot be coded) and opens the source.
// OpenAviPlan gives a kNotThisFormat error for a file that is not an AVI file.
Result<JobPlan> OpenAviPlan(const JobSettings& settings);
Result<JobPlan> OpenMjPlan(const JobSettings& settings);
Result<JobPlan> OpenMediaGraphPlan(const JobSettings& settings);

// An error about the job's source file.
Error SourceError(const JobSettings& settings, ErrorKind kind, const std::string& what);
// Refuses a movie the player would not show (see PlayerShowsPicture), naming the source's size
// and the movie's. The fit that follows the source's shape enlarges a source narrower than the
// box, so a narrow source can ask for a picture taller than the player's screen; the fit on a
// video file's first picture never leaves the box, so the AVI path never meets this.
Status RefuseUnshownMovie(const JobSettings& settings, PictureSize source, PictureSize movie);
// The output file with `extension` for the job's source in its output folder.
std::string JobOutputName(const JobSettings& settings, const char* extension);

}  // namespace reel
