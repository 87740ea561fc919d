#include "converter/front/make_job_settings.h"

namespace reel {

JobSettings MakeJobSettings(const DialogSettings& settings, int32_t encoderChoice) {
  JobSettings job;
  job.audioBitRateIndex = settings.audioBitRateIndex;
  job.audioRateFlag = settings.audioRateIndex;
  job.stereoFlag = settings.stereoFlag;
  job.frameRateChoice = settings.frameRateChoice;
  job.pictureSizeChoice = settings.pictureSizeChoice;
  job.sourcePath = settings.sourcePath;
  job.outputFolder = settings.outputFolder;
  job.sourceKind = settings.sourceKind;
  job.pictureQuality = settings.qualityLevelIndex;
  job.forceDirectShow = settings.forceDirectShow;
  job.playbackMode = settings.playbackMode;
  job.frameRateOverride = settings.originalFrameChoice;
  job.encoderChoice = encoderChoice;
  return job;
}

}  // namespace reel
