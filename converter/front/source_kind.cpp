#include "converter/front/source_kind.h"

#include "common/string_search.h"

namespace reel {

int32_t SourceKindOf(std::string_view path) {
  const auto dot = FindLastChar(path, '.');
  if (!dot) return kSourceVideoFile;
  return EqualNoCase(path.substr(*dot), ".mj") ? kSourceMotionJpeg : kSourceVideoFile;
}

}  // namespace reel
