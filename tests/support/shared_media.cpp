#include "tests/support/shared_media.h"

namespace reel::test {

bool HaveSharedMediaFolder() {
  std::error_code error;
  return std::filesystem::is_directory(REEL_SHARED_MEDIA_DIR, error);
}

std::filesystem::path SharedMediaPath(std::string_view name) {
  return std::filesystem::path(REEL_SHARED_MEDIA_DIR) / name;
}

}  // namespace reel::test
