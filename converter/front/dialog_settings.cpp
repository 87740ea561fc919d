#include "converter/front/dialog_settings.h"

namespace reel {
const std::vector<std::string>& FrameCountLabels() {
  static const std::vector<std::string> labels{"基準値(MAX15fps)", "最大値(MAX30fps)", "最小値(MAX10fps)"};
  return labels;
}

const std::vector<std::string>& PictureSizeLabels() {
  static const std::vector<std::string> labels{"320 * 240", "640 * 480"};
  return labels;
}

const std::vector<std::string>& AudioRateLabels() {
  static const std::vector<std::string> labels{"22.05kHz", "44.10kHz"};
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
