// The real media files made by others (../shared/media beside the source tree), read in place and
// never copied. Tests that use them skip with a clear message when the folder is absent.
#pragma once

#include <filesystem>
#include <string_view>

namespace reel::test {

bool HaveSharedMediaFolder();
std::filesystem::path SharedMediaPath(std::string_view name);

}  // namespace reel::test
