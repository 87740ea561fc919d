// Movie files for the player's tests: real coded frames of generated pictures, and hand-laid
// containers whose frames are arbitrary bytes at chosen places.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reel::test {

// The coded frames of a generated clip.
std::vector<std::vector<uint8_t>> CodedFrames(uint32_t width, uint32_t height, uint32_t count);

// Writes a movie of the given frames through the converter's container writer.
void WriteMovie(const std::string& path, const std::vector<std::vector<uint8_t>>& frames, uint32_t rate,
                uint32_t width, uint32_t height);

// One frame of a hand-laid container: its index entry's size and offset (from the data start),
// and the bytes placed there.
struct LaidFrame {
  uint32_t codedSize = 0;
  uint32_t frameOffset = 0;
  std::vector<uint8_t> bytes;
};

// A container with a header claiming `frameCount` frames (the index lists `frames`), the frames'
// bytes at their offsets, and the file cut or padded to `fileLength` when it is not 0.
std::vector<uint8_t> LayContainer(uint32_t frameCount, uint32_t rate, uint32_t width, uint32_t height,
                                  const std::vector<LaidFrame>& frames, uint64_t fileLength = 0);

// `count` frames of `size` bytes each, back to back; frame k is filled with the byte k + 1.
std::vector<LaidFrame> BackToBack(uint32_t count, uint32_t size);

}  // namespace reel::test
