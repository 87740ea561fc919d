// ".mj" files written for the job tests: generated JPEG pictures that carry their chunk number,
// and a continuous tone cut into the chunks' sound, so that the sound of any run of chunks joined
// is the tone without a seam.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reel::test {

struct MjClip {
  uint16_t width = 160;
  uint16_t height = 120;
  uint16_t channels = 2;
  uint32_t sampleRate = 22050;
  uint16_t rateNumerator = 15;
  uint16_t rateDenominator = 1;
  uint32_t chunks = 30;
  std::optional<uint32_t> damagedPicture;  // this chunk's JPEG is replaced by junk
  // Chunk e's sound is soundBytes[e % size] bytes (any size, odd ones too); empty: one frame's
  // worth of sample frames (the rate divided by the frame rate).
  std::vector<uint32_t> soundBytes;
  // These chunks' index entries put their sound out of bounds (and their picture over the sound).
  std::vector<uint32_t> damagedSound;
  // The header's count of sound chunks plus one; none: the chunk count plus one.
  std::optional<uint16_t> soundChunksPlusOne;
};

// The bytes of chunk e's sound in the clip.
std::vector<uint8_t> MjChunkSound(const MjClip& clip, uint32_t chunk);

// Header, then the chunks (sound, a gap, picture) from the base offset 44, then the index.
// False when the file cannot be written.
bool WriteMj(const std::string& path, const MjClip& clip);

}  // namespace reel::test
