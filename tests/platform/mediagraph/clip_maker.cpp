#include "clip_maker.h"

#include <cmath>

#include "tests/support/external_tools.h"

namespace reel::test {

std::string IndexedPictures(int width, int height, const std::string& rate) {
  return "-f lavfi -i \"color=c=black:s=" + std::to_string(width) + "x" + std::to_string(height) + ":r=" + rate +
         ",format=rgb24,geq=r=8*N:g=8*N:b=8*N\"";
}

std::string MakeIndexedClip(const ScratchFolder& folder, const IndexedClip& clip, const std::string& extra) {
  const std::string path = folder.File(clip.name);
  const std::string arguments = IndexedPictures(clip.width, clip.height, clip.rate) + " " + extra + " -frames:v " +
                                std::to_string(clip.frames) + " " + clip.videoOptions + " \"" + path + "\"";
  return RunFfmpegTool(arguments) ? path : "";
}

int IndexOf(const std::vector<uint8_t>& rows, const GrabberType& type) {
  const std::size_t stride = (static_cast<std::size_t>(type.width) * 3 + 3) & ~std::size_t{3};
  const std::size_t at = stride * static_cast<std::size_t>(type.height / 2) + static_cast<std::size_t>(type.width / 2) * 3;
  if (at + 3 > rows.size()) return -1;
  const double grey = (rows[at] + rows[at + 1] + rows[at + 2]) / 3.0;
  return static_cast<int>(std::lround(grey / 8.0));
}

}  // namespace reel::test
