// Which reader a chosen source file needs, told by its name alone.
#pragma once

#include <cstdint>
#include <string_view>

namespace reel {

inline constexpr int32_t kSourceVideoFile = 0;
inline constexpr int32_t kSourceMotionJpeg = 1;

// kSourceMotionJpeg when the path from its last "." on is ".mj" in any case of its ASCII letters,
// else kSourceVideoFile. The "." is looked for character by character under the process code page,
// so a byte inside a multibyte character is never taken for it.
int32_t SourceKindOf(std::string_view path);

}  // namespace reel
