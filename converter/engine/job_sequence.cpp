// The one sequence every plan runs through, from the quality step to the stored outputs.
//
// Everything a job could refuse is checked before anything is written: a source that cannot be
// read, a source rate of 0, an output name that is the source itself. After that, damage in the
// source costs a repeated frame or an empty companion file and a warning; only an output file
// that cannot be written stops the job.
#include "converter/engine/job_sequence.h"

#include <utility>
#include <variant>
#include <vector>

#include "common/qrx_format.h"
#include "converter/engine/output_name.h"

namespace reel {
namespace {

// The plan's companions in turn on one sound task: each is started when the one before it was
// taken (beside the frames when the sound overlaps), or at its own turn at the latest, so its
// files, warnings and errors come in the order of the steps.
class CompanionTurns {
 public:
  CompanionTurns(const JobPlan& plan, SoundTask& task) : task_(task) {
    for (const auto& step : plan.steps) {
      if (const auto* companion = std::get_if<CompanionStep>(&step)) works_.push_back(&companion->work);
    }
  }

  void StartNext(bool overlap) {
    if (next_ < works_.size()) task_.Start(*works_[next_++], overlap);
  }

 private:
  SoundTask& task_;
  std::vector<const SoundTask::Work*> works_;
  std::size_t next_ = 0;
};

}  // namespace

Error SourceError(const JobSettings& settings, ErrorKind kind, const std::string& what) {
  return MakeError(kind, settings.sourcePath, what);
}

Status RefuseUnshownMovie(const JobSettings& settings, PictureSize source, PictureSize movie) {
  if (PlayerShowsPicture(movie.width, movie.height)) return {};
  auto size = [](PictureSize picture) { return std::to_string(picture.width) + " x " + std::to_string(picture.height); };
  return SourceError(settings, ErrorKind::kUnsupported,
                     "its " + size(source) + " picture would make a movie of " + size(movie) +
                         ", more than the player shows (at most " + std::to_string(kMaxShownSide) +
                         " pixels a side and " + std::to_string(kMaxShownMacroblocks) + " macroblocks)");
}

std::string JobOutputName(const JobSettings& settings, const char* extension) {
  return MakeOutputName(settings.outputFolder, settings.sourcePath, extension);
}

Status JobSequence::Execute() {
  if (Status quality = TakeJpegQuality(); !quality) return quality;
  if (settings_.outputFolder.empty()) return MakeError(ErrorKind::kUsage, "", "no output folder was given");
  control_.FramesDone().store(0);
  control_.FramesTotal().store(0);
  const Result<JobPlan> plan = OpenPlan();
  if (!plan) return plan.error();
  if (Status body = RunPlan(*plan); !body) return outputs_.InRealNames(body.error());
  return outputs_.CommitAll();
}

// The record's quality field holds the entry's index until here and the JPEG quality from here on.
Status JobSequence::TakeJpegQuality() {
  const Result<int32_t> quality = JpegQualityForLevel(settings_.pictureQuality);
  if (!quality) return quality.error();
  settings_.pictureQuality = *quality;
  return {};
}

// A ".mj" file by its own reader; a video file by the AVI layer, or by the media framework when it
// is no AVI file or the user asked for it.
Result<JobPlan> JobSequence::OpenPlan() {
  if (settings_.sourceKind == SourceKind::kMj) return OpenMjPlan(settings_);
  if (settings_.forceDirectShow) return OpenMediaGraphPlan(settings_);
  Result<JobPlan> avi = OpenAviPlan(settings_);
  if (!avi && avi.kind() == ErrorKind::kNotThisFormat) return OpenMediaGraphPlan(settings_);
  return avi;
}

Status JobSequence::RunPlan(const JobPlan& plan) {
  report_.warnings.insert(report_.warnings.end(), plan.warnings.begin(), plan.warnings.end());
  if (plan.sourceRate) control_.SourceRate().store(static_cast<int32_t>(*plan.sourceRate));
  if (Status free = RefuseOutputsOverSource(plan); !free) return free;
  SoundTask sound([this] { return control_.StopRequested(); });
  CompanionTurns companions(plan, sound);
  if (SoundOverlaps()) companions.StartNext(true);
  for (const auto& step : plan.steps) {
    control_.CheckStop();
    if (const auto* movie = std::get_if<MovieStep>(&step)) {
      if (Status written = WriteMovie(*movie); !written) return written;  // the sound task stops with the run
      continue;
    }
    if (!sound.Running()) companions.StartNext(false);
    if (Status taken = TakeCompanion(sound); !taken) return taken;
    if (SoundOverlaps()) companions.StartNext(true);
  }
  return {};
}

// The user's source is never an output's target.
Status JobSequence::RefuseOutputsOverSource(const JobPlan& plan) const {
  for (const std::string& extension : plan.outputs) {
    const std::string name = JobOutputName(settings_, extension.c_str());
    if (SameFile(name, settings_.sourcePath)) {
      return SourceError(settings_, ErrorKind::kRefused,
                         "the output " + name + " would replace the source itself; choose another output folder");
    }
  }
  return {};
}

// The sound task's companion, taken in its stream's turn: its warnings, then its file under the
// real name.
Status JobSequence::TakeCompanion(SoundTask& task) {
  CompanionResult result = task.Take();
  report_.warnings.insert(report_.warnings.end(), result.warnings.begin(), result.warnings.end());
  if (!result.status) {
    if (result.status.error().kind == ErrorKind::kStopped) control_.CheckStop();
    return result.status;
  }
  if (!result.staged) return {};
  const StagedOutput* staged = outputs_.Adopt(std::move(*result.staged));
  outputs_.Keep(staged, StagedOutputs::Role::kCompanion);
  report_.audioPath = staged->FinalPath();
  report_.audioBytes = result.bytes;
  return {};
}

}  // namespace reel
