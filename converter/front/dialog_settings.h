// The dialog's own copy of every conversion setting, and the texts of its lists.
//
// Each setting is what its control holds: a list setting is the index of the chosen entry, a box
// is 0 or 1. The controls' notifications change it and Start reads it; nothing is kept between
// runs, so every dialog starts from these defaults. The encoder choice is not part of it: Start
// reads it from the radio buttons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "converter/choices/job_choices.h"

namespace reel {

struct DialogSettings {
  std::string sourcePath;            // empty until a file is chosen
  int32_t sourceKind = 0;            // 1 for a ".mj" file, set with every chosen path
  std::string outputFolder;          // the current directory when the dialog opened
  int32_t audioBitRateIndex = kDefaultBitRateIndex;  // "64/32kbit"
  int32_t audioRateIndex = 0;        // "22.05kHz"; 1 is the 44.1 kHz flag
  int32_t stereoFlag = 1;
  int32_t frameRateChoice = 0;       // "基準値(MAX15fps)"
  int32_t pictureSizeChoice = 0;     // "320 * 240"
  int32_t qualityLevelIndex = 10;    // "50%"
  int32_t forceDirectShow = 0;
  int32_t playbackMode = 0;          // "フレーム同期"
  int32_t originalFrameChoice = 0;   // "自動判別"
};

// The entries of each list, in order; a list setting is an index into them. The bit-rate list
// (1002) and the quality list (1011) are the job's own (BitRateLabels, QualityLabels).
const std::vector<std::string>& FrameCountLabels();     // 1008
const std::vector<std::string>& PictureSizeLabels();    // 1009
const std::vector<std::string>& AudioRateLabels();      // 1003
const std::vector<std::string>& PlaybackModeLabels();   // 1014
const std::vector<std::string>& OriginalFrameLabels();  // 1015

}  // namespace reel
