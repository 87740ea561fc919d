// The ".mj" reader on arbitrary bytes: the header and index are read, every chunk's picture and
// sound bounds are checked against the file, and the frame timing and box fit are computed from
// whatever the header says. Nothing may read outside the file or divide by zero. The soundtrack
// read in pieces must join to the soundtrack read whole.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "converter/engine/frame_timing.h"
#include "converter/engine/mj_file.h"
#include "converter/engine/mj_sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int descriptor = memfd_create("mj", 0);
  if (descriptor < 0) return 0;
  const bool written = write(descriptor, data, size) == static_cast<ssize_t>(size);
  if (written) {
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    auto mj = reel::MjFile::Open(path);
    if (mj) {
      const uint32_t chunks = std::min<uint32_t>(mj->ChunkCount(), 64);
      for (uint32_t e = 0; e <= chunks; ++e) {
        (void)mj->Picture(e);
        (void)mj->Sound(e);
      }
      reel::MjSoundLayout sound = reel::LayOutMjSound(*mj);
      sound.chunks = std::min(sound.chunks, chunks);
      const std::vector<uint8_t> whole = reel::ReadWholeMjSound(*mj, sound);
      auto pieces = reel::OpenMjSoundPieces(path, sound, [] { return false; });
      std::vector<uint8_t> joined;
      bool complete = static_cast<bool>(pieces);
      for (bool more = complete; more;) {
        const auto next = (*pieces)->Next(joined);
        complete = static_cast<bool>(next);
        more = next && *next;
      }
      if (complete && joined != whole) std::abort();
      const auto& header = mj->Header();
      (void)reel::ComputeFrameTiming(mj->SourceRate(), mj->ChunkCount(), static_cast<reel::FrameRateChoice>(header.rateDenominator % 3));
      (void)reel::FitBoxFromHeader(reel::BoxForChoice(reel::PictureSizeChoice::k320x240), {header.width, header.height});
    }
  }
  close(descriptor);
  return 0;
}
