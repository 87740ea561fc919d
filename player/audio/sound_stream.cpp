#include "player/audio/sound_stream.h"

#include <algorithm>
#include <array>

#include "player/audio/mp3_stream.h"
#include "player/audio/ogg_stream.h"

namespace reel {

std::unique_ptr<SoundStream> MakeSoundStream(std::span<const uint8_t> firstBytes) {
  constexpr std::array<uint8_t, 4> kOggPage = {'O', 'g', 'g', 'S'};
  if (firstBytes.size() >= kOggPage.size() && std::equal(kOggPage.begin(), kOggPage.end(), firstBytes.begin())) {
    return std::make_unique<OggStream>();
  }
  return std::make_unique<Mp3Stream>();
}

}  // namespace reel
