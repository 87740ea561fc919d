// Writing a job's movie through the frame loop: the first frame, whose picture fixes the movie's
// size, then the plain loop on the job's thread or the threaded loop over the frame pipeline, then
// the report's figures. The movie is staged, so it appears under its real name only when complete,
// together with the companion file (companion_writing.cpp).
#include <filesystem>
#include <string>
#include <utility>

#include "converter/coder/picture_scaler.h"
#include "converter/engine/code_frame.h"
#include "converter/engine/frame_pipeline.h"
#include "converter/engine/job_run.h"
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

}  // namespace

// `picture(k)` gives the source picture of output frame k; the movie's size is `size`, or the fit
// that `fit` makes on the first picture.
Status CWavFileMake::Run::WriteMovie(const FrameTiming& timing, std::optional<PictureSize> size,
                                     const PictureSource& picture, const SizeFit& fit) {
  job_.framesTotal.store(static_cast<int32_t>(timing.frameCount));
  job_.framesDone.store(0);
  Result<StagedOutput*> staged = outputs_.Stage(OutputName(".qrx"));
  if (!staged) return staged.error();
  Result<MovieBuilder> movie =
      MovieBuilder::Begin((*staged)->TemporaryPath(), timing, settings_.pictureSizeChoice, settings_.pictureQuality);
  if (!movie) return movie.error();
  if (size) movie->SetSize(*size);
  if (timing.frameCount > 0) {
    try {
      if (Status first = AddFirstFrame(*movie, picture, fit); !first) return first;
      const bool threaded = job_.frameCoders_ != 0;
      Status rest = threaded ? ThreadedLoop(*movie, 1, timing.frameCount, picture)
                             : PlainLoop(*movie, 1, timing.frameCount, picture);
      if (!rest) return rest;
    } catch (const PictureSourceFailure& failure) {
      return failure.error;  // the unfinished movie goes with its stage
    }
  }
  if (Status finished = movie->Finish(); !finished) return finished;
  outputs_.Keep(*staged, StagedOutputs::Role::kMovie);
  ReportMovie(*movie, timing, **staged);
  return {};
}

// The first frame is made on its own: its picture fixes the movie's size for all the others.
Status CWavFileMake::Run::AddFirstFrame(MovieBuilder& movie, const PictureSource& picture, const SizeFit& fit) {
  job_.CheckKilled();
  std::optional<BmpImage> first = picture(0);
  if (fit) movie.SetSize(fit(first));
  if (Status added = movie.AddPicture(first); !added) return added;
  job_.framesDone.store(1);
  return {};
}

// Frames first ... end - 1 read, scaled and coded one after another on the job's thread.
Status CWavFileMake::Run::PlainLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const PictureSource& picture) {
  for (uint32_t k = first; k < end; ++k) {
    job_.CheckKilled();
    if (Status added = movie.AddPicture(picture(k)); !added) return added;
    job_.framesDone.store(static_cast<int32_t>(movie.FramesDone()));
  }
  return {};
}

// The same frames read on one thread and scaled and coded on the job's coder threads; the job's
// thread appends them in order. The movie is byte for byte the plain loop's.
Status CWavFileMake::Run::ThreadedLoop(MovieBuilder& movie, uint32_t first, uint32_t end, const PictureSource& picture) {
  if (first >= end) return {};
  const PictureSize movieSize = movie.Size();
  const int32_t quality = movie.Quality();
  // Each coder thread keeps its own frame coding, whose buffers serve frame after frame; the frames
  // are CodeSourcePicture's.
  FramePipeline frames(first, end, picture, [movieSize, quality]() -> FramePipeline::Coder {
    return [movieSize, quality, coding = FrameCoding()](const BmpImage& source) mutable
               -> std::optional<std::vector<uint8_t>> {
      const std::optional<BmpImage> scaled = ScalePicture(source, movieSize.width, movieSize.height);
      if (!scaled) return std::nullopt;
      return coding.Code(*scaled, quality);
    };
  }, job_.frameCoders_);
  for (uint32_t k = first; k < end; ++k) {
    job_.CheckKilled();
    FramePipeline::Frame frame = frames.Next();
    if (Status added = movie.AddCoded(frame.pictureMissing, std::move(frame.coded)); !added) return added;
    job_.framesDone.store(static_cast<int32_t>(movie.FramesDone()));
  }
  return {};
}

void CWavFileMake::Run::ReportMovie(const MovieBuilder& movie, const FrameTiming& timing, const StagedOutput& file) {
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
