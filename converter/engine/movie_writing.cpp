// Writing a job's movie through the frame loop: the first frame, whose picture fixes the movie's
// size, then the plain loop on the job's thread or the threaded loop over the frame pipeline, then
// the report's figures. The movie is staged, so it appears under its real name only when complete,
// together with the companion file (companion_writing.cpp).
#include <filesystem>
#include <string>
#include <utility>

#include "converter/engine/code_frame.h"
#include "converter/engine/frame_pipeline.h"
#include "converter/engine/job_sequence.h"
#include "converter/engine/movie_builder.h"
#include "converter/engine/staged_output.h"

namespace reel {
namespace {

std::string FrameWarning(uint32_t count, uint32_t total, const char* what) {
  return std::to_string(count) + " of " + std::to_string(total) + " frames " + what +
         "; each repeats the frame before it (black at the start)";
}

uint64_t FileSize(const std::string& path) {
  std::error_code failure;
  const auto size = std::filesystem::file_size(path, failure);
  return failure ? 0 : size;
}

// The pipeline's pictures: the step's own late ones, else its plain ones.
FramePipeline::Reader PipelineReader(const MovieStep& step) {
  if (step.latePicture) return step.latePicture;
  return [picture = step.picture](uint32_t k) -> Result<std::optional<SourcePicture>> {
    Result<std::optional<BmpImage>> read = picture(k);
    if (!read) return read.error();
    if (!*read) return std::optional<SourcePicture>();
    return std::optional<SourcePicture>(SourcePicture(std::move(**read)));
  };
}

}  // namespace

// The movie's size is the step's size, or the fit the step makes on the first picture.
Status JobSequence::WriteMovie(const MovieStep& step) {
  const FrameTiming& timing = step.timing;
  control_.FramesTotal().store(static_cast<int32_t>(timing.frameCount));
  control_.FramesDone().store(0);
  Result<StagedOutput*> staged = outputs_.Stage(JobOutputName(settings_, ".qrx"));
  if (!staged) return staged.error();
  Result<MovieBuilder> movie =
      MovieBuilder::Begin((*staged)->TemporaryPath(), timing, settings_.pictureSizeChoice, settings_.pictureQuality);
  if (!movie) return movie.error();
  if (step.size) movie->SetSize(*step.size);
  // A failed frame leaves the unfinished movie to go with its stage.
  if (timing.frameCount > 0) {
    if (Status first = AddFirstFrame(*movie, step); !first) return first;
    const bool threaded = frameCoders_ != 0;
    Status rest = threaded ? ThreadedLoop(*movie, 1, timing.frameCount, step)
                           : PlainLoop(*movie, 1, timing.frameCount, step.picture);
    if (!rest) return rest;
  }
  if (Status finished = movie->Finish(); !finished) return finished;
  outputs_.Keep(*staged, StagedOutputs::Role::kMovie);
  ReportMovie(*movie, timing, **staged);
  return {};
}

// The first frame is made on its own: its picture fixes the movie's size for all the others.
Status JobSequence::AddFirstFrame(MovieBuilder& movie, const MovieStep& step) {
  control_.CheckStop();
  Result<std::optional<BmpImage>> first = step.picture(0);
  if (!first) return first.error();
  if (step.fit) movie.SetSize(step.fit(*first));
  if (Status added = movie.AddPicture(*first); !added) return added;
  control_.FramesDone().store(1);
  return {};
}

// Frames first ... end - 1 read, scaled and coded one after another on the job's thread.
Status JobSequence::PlainLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const PictureSource& picture) {
  for (uint32_t k = first; k < end; ++k) {
    control_.CheckStop();
    const Result<std::optional<BmpImage>> source = picture(k);
    if (!source) return source.error();
    if (Status added = movie.AddPicture(*source); !added) return added;
    control_.FramesDone().store(static_cast<int32_t>(movie.FramesDone()));
  }
  return {};
}

// The same frames read on one thread and scaled and coded on the job's coder threads; the job's
// thread appends them in order. The movie is byte for byte the plain loop's.
Status JobSequence::ThreadedLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const MovieStep& step) {
  if (first >= end) return {};
  const PictureSize movieSize = movie.Size();
  const int32_t quality = movie.Quality();
  // The pipeline brings each picture to the movie's size; each coder thread keeps its own frame
  // coding, whose buffers serve frame after frame. The frames are CodeSourcePicture's.
  const FramePipeline::Target target{movieSize.width, movieSize.height, PictureScaling::kWhileMaking};
  FramePipeline frames(first, end, PipelineReader(step), target, [quality]() -> FramePipeline::Coder {
    return [quality, coding = FrameCoding()](const BmpImage& scaled) mutable { return coding.Code(scaled, quality); };
  }, frameCoders_, step.giveBack);
  for (uint32_t k = first; k < end; ++k) {
    control_.CheckStop();
    Result<FramePipeline::Frame> frame = frames.Next();
    if (!frame) return frame.error();
    if (Status added = movie.AddCoded(frame->pictureMissing, std::move(frame->coded)); !added) return added;
    control_.FramesDone().store(static_cast<int32_t>(movie.FramesDone()));
  }
  return {};
}

void JobSequence::ReportMovie(const MovieBuilder& movie, const FrameTiming& timing, const StagedOutput& file) {
  if (movie.MissingPictures() > 0) {
    report_.warnings.push_back(FrameWarning(movie.MissingPictures(), timing.frameCount, "could not be read or decoded"));
  }
  if (movie.UncodablePictures() > 0) {
    report_.warnings.push_back(FrameWarning(movie.UncodablePictures(), timing.frameCount, "could not be coded"));
  }
  report_.moviePath = file.FinalPath();
  report_.frames = timing.frameCount;
  report_.width = movie.Size().width;
  report_.height = movie.Size().height;
  report_.sourceRate = timing.sourceRate;
  report_.movieRate = timing.targetRate;
  report_.movieBytes = FileSize(file.TemporaryPath());
}

}  // namespace reel
