#include "converter/front/make_job_settings.h"

namespace reel {

// The dialog's lists and boxes only ever hold indexes inside their lists, and each enumerator
// carries the number its list entry stands for, so the conversions are plain casts.
JobSettings MakeJobSettings(const DialogSettings& settings, AudioEncoder encoderChoice) {
  JobSettings job;
  job.audioBitRateIndex = settings.audioBitRateIndex;
  job.audioRate = static_cast<AudioRate>(settings.audioRateIndex);
  job.channels = settings.stereoFlag != 0 ? Channels::kStereo : Channels::kMono;
  job.frameRateChoice = static_cast<FrameRateChoice>(settings.frameRateChoice);
  job.pictureSizeChoice = static_cast<PictureSizeChoice>(settings.pictureSizeChoice);
  job.sourcePath = settings.sourcePath;
  job.outputFolder = settings.outputFolder;
  job.sourceKind = static_cast<SourceKind>(settings.sourceKind);
  job.pictureQuality = settings.qualityLevelIndex;
  job.forceDirectShow = settings.forceDirectShow != 0;
  job.playbackMode = static_cast<PlaybackMode>(settings.playbackMode);
  job.frameRateOverride = static_cast<FrameRateOverride>(settings.originalFrameChoice);
  job.encoderChoice = encoderChoice;
  return job;
}

}  // namespace reel
