#include "converter/front/dialog_settings.h"

namespace reel {
namespace {

// The quality entries run from 100% down to 5% in steps of 5; entry i is the JPEG quality 100 - 5i.
constexpr int kQualityEntries = 20;
constexpr int kQualityStep = 5;

std::vector<std::string> MakeQualityLabels() {
  std::vector<std::string> labels;
  for (int i = 0; i < kQualityEntries; ++i) labels.push_back(std::to_string(100 - kQualityStep * i) + "%");
  return labels;
}

}  // namespace

const std::vector<std::string>& FrameCountLabels() {
  static const std::vector<std::string> labels{"基準値(MAX15fps)", "最大値(MAX30fps)", "最小値(MAX10fps)"};
  return labels;
}

const std::vector<std::string>& PictureSizeLabels() {
  static const std::vector<std::string> labels{"320 * 240", "640 * 480"};
  return labels;
}

const std::vector<std::string>& BitRateLabels() {
  static const std::vector<std::string> labels{"16/8kbit",   "32/16kbit",   "48/24kbit",   "64/32kbit",  "80/40kbit",
                                               "96/48kbit",  "112/56kbit",  "128/64kbit",  "160/80kbit", "192/96kbit",
                                               "224/112kbit", "256/128kbit", "320/160kbit"};
  return labels;
}

const std::vector<std::string>& AudioRateLabels() {
  static const std::vector<std::string> labels{"22.05kHz", "44.10kHz"};
  return labels;
}

const std::vector<std::string>& QualityLabels() {
  static const std::vector<std::string> labels = MakeQualityLabels();
  return labels;
}

const std::vector<std::string>& PlaybackModeLabels() {
  static const std::vector<std::string> labels{"フレーム同期", "時間同期"};
  return labels;
}

const std::vector<std::string>& OriginalFrameLabels() {
  static const std::vector<std::string> labels{"自動判別", "30FPS", "24FPS", "15FPS"};
  return labels;
}

}  // namespace reel
