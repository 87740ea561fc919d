#include "converter/engine/job_settings.h"

#include <string>

namespace reel {

Result<int32_t> JpegQualityForLevel(int32_t qualityIndex) {
  if (!IsQualityIndex(qualityIndex)) {
    return MakeError(ErrorKind::kUsage, "",
                     "quality level " + std::to_string(qualityIndex) + " is not one of the 20 levels");
  }
  return QualityPercent(qualityIndex);
}

}  // namespace reel
