// The ".mj" plan: header, index, the chunks' pictures for the movie, and the chunks' sound for the
// companion MP3 file, read again through a handle of its own (companion_writing.cpp).
#include <memory>
#include <string>
#include <utility>

#include "converter/engine/companion_writing.h"
#include "converter/engine/job_plan.h"
#include "converter/engine/mj_file.h"
#include "converter/jpeg/frame_jpeg.h"

namespace reel {
namespace {

// Where the sound lies, and the warnings that gives, in the order the job reports them.
MjSoundPlan PlanMjSound(const MjFile& mj) {
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

}  // namespace

Result<JobPlan> OpenMjPlan(const JobSettings& settings) {
  Result<MjFile> opened = MjFile::Open(settings.sourcePath);
  if (!opened) return opened.error();
  const auto mj = std::make_shared<MjFile>(std::move(*opened));
  const MjHeader& header = mj->Header();
  const uint32_t rate = mj->SourceRate();
  if (rate == 0) {
    return SourceError(settings, ErrorKind::kRefused, "the .mj frame rate is 0 frames per second; there is nothing to convert");
  }
  const auto timing = ComputeFrameTiming(rate, mj->ChunkCount(), settings.frameRateChoice);
  if (!timing) return SourceError(settings, ErrorKind::kRefused, "the .mj file is too long for one movie");
  const auto size = FitBoxFromHeader(BoxForChoice(settings.pictureSizeChoice), {header.width, header.height});
  if (!size) return SourceError(settings, ErrorKind::kDamaged, "the .mj header gives a picture size of 0");
  // The fit enlarges a source narrower than the box; a movie taller than the player shows is
  // refused before anything is written.
  if (Status shown = RefuseUnshownMovie(settings, {header.width, header.height}, *size); !shown) return shown.error();

  JobPlan plan;
  plan.outputs = {".qrx", ".mp3"};
  const uint32_t step = timing->step;
  plan.steps.emplace_back(MovieStep{*timing, size, nullptr, [mj, step](uint32_t k) -> Result<std::optional<BmpImage>> {
    const auto jpeg = mj->Picture(SourceFrameFor(k, step));
    if (!jpeg) return std::optional<BmpImage>();
    return DecodeFrameJpeg(*jpeg);
  }});
  plan.steps.emplace_back(CompanionStep{[settings, sound = PlanMjSound(*mj)](const SoundTask::StopCheck& stopped) {
    return MjCompanion(settings, sound, stopped);
  }});
  return plan;
}

}  // namespace reel
