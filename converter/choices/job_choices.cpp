#include "converter/choices/job_choices.h"

namespace reel {

const std::vector<std::string>& BitRateLabels() {
  static const std::vector<std::string> labels = [] {
    std::vector<std::string> list;
    for (const uint32_t rate : kStereoBitRates) {
      list.push_back(std::to_string(rate) + "/" + std::to_string(rate / 2) + "kbit");
    }
    return list;
  }();
  return labels;
}

std::optional<int32_t> QualityIndexForPercent(int32_t percent) {
  if (percent % kQualityStep != 0) return std::nullopt;
  const int32_t index = (100 - percent) / kQualityStep;
  if (!IsQualityIndex(index)) return std::nullopt;
  return index;
}

const std::vector<std::string>& QualityLabels() {
  static const std::vector<std::string> labels = [] {
    std::vector<std::string> list;
    for (int32_t i = 0; i < kQualityLevels; ++i) list.push_back(std::to_string(QualityPercent(i)) + "%");
    return list;
  }();
  return labels;
}

}  // namespace reel
