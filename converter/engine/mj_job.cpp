// The ".mj" job: header, index, the chunks' pictures through the frame loop, and the chunks' sound
// as the companion MP3 file. The sound is read, converted and encoded in pieces on the sound task
// (companion_writing.cpp), beside the frame loop when the frames are coded on threads of their
// own, else after it; either way its warnings and its file follow the movie's.
#include <string>

#include "converter/engine/job_run.h"
#include "converter/engine/mj_file.h"
#include "converter/jpeg/frame_jpeg.h"

namespace reel {

Status CWavFileMake::Run::RunMj() {
  job_.framesDone.store(0);
  job_.framesTotal.store(0);
  Result<MjFile> mj = MjFile::Open(settings_.sourcePath);
  if (!mj) return mj.error();
  const MjHeader& header = mj->Header();
  const uint32_t rate = mj->SourceRate();
  if (rate == 0) {
    return SourceError(ErrorKind::kRefused, "the .mj frame rate is 0 frames per second; there is nothing to convert");
  }
  const auto timing = ComputeFrameTiming(rate, mj->ChunkCount(), settings_.frameRateChoice);
  if (!timing) return SourceError(ErrorKind::kRefused, "the .mj file is too long for one movie");
  const auto size = FitBoxFromHeader(BoxForChoice(settings_.pictureSizeChoice), {header.width, header.height});
  if (!size) return SourceError(ErrorKind::kDamaged, "the .mj header gives a picture size of 0");
  // The fit enlarges a source narrower than the box; a height beyond the largest picture the
  // scaler makes could never be coded (see FitBoxFromHeader), so nothing is written at all.
  if (size->height > BmpImage::kMaxDimension) {
    return SourceError(ErrorKind::kUnsupported, "the .mj picture is too narrow for its height to fit a movie");
  }
  if (Status free = RefuseOutputOverSource(".qrx"); !free) return free;
  if (Status free = RefuseOutputOverSource(".mp3"); !free) return free;

  // The sound is read through a handle of its own: the frame loop keeps this one.
  const MjSoundPlan sound = PlanMjSound(*mj);
  SoundTask task([this] { return JobStopped(); });
  const SoundTask::Work companion = [this, &sound](const SoundTask::StopCheck& stopped) {
    return MjCompanion(sound, stopped);
  };
  if (SoundOverlaps()) task.Start(companion, true);
  MjFile& source = *mj;
  const uint32_t step = timing->step;
  const Status movie = WriteMovie(*timing, size, [&source, step](uint32_t k) -> std::optional<BmpImage> {
    const auto jpeg = source.Picture(SourceFrameFor(k, step));
    if (!jpeg) return std::nullopt;
    return DecodeFrameJpeg(*jpeg);
  }, nullptr);
  if (!movie) return movie;  // the sound task stops with the run
  job_.CheckKilled();
  if (!task.Running()) task.Start(companion, false);
  return TakeCompanion(task);
}

CWavFileMake::Run::MjSoundPlan CWavFileMake::Run::PlanMjSound(const MjFile& mj) {
  MjSoundPlan plan{LayOutMjSound(mj), {}};
  const MjSoundLayout& layout = plan.layout;
  if (!layout.format) {
    plan.warnings.push_back("the .mj sound has " + std::to_string(layout.header.channels) + " channels at " +
                            std::to_string(layout.header.sampleRate) +
                            " Hz, which cannot be converted; the companion file is empty");
  }
  if (layout.beyondIndex) {
    plan.warnings.push_back("the .mj header names more sound chunks than its index holds; the extra ones are ignored");
  }
  if (layout.outOfBounds > 0) {
    plan.warnings.push_back(std::to_string(layout.outOfBounds) + " .mj chunks have sound outside their bounds; it was left out");
  }
  return plan;
}

}  // namespace reel
