// MP3 streams decoded by libmpg123, as a reference to compare our encoder's output and the
// player's decoder plug-in with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace reel::test {

enum class Mp3Decoding {
  // As a player that honours the encoder's information frame: the frame itself is not sound, and
  // the encoder's delay and padding are trimmed, so the samples are the ones encoded.
  kGapless,
  // Every frame decoded as it stands, the information frame included as a (silent) frame, nothing
  // trimmed: what a frame-by-frame decoder gives.
  kEveryFrame,
};

struct DecodedMp3 {
  uint32_t rate = 0;
  uint16_t channels = 0;
  std::vector<int16_t> samples;  // interleaved
  bool complete = false;         // the decode reached the stream's end rather than an error

  std::size_t Frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Nothing when libmpg123 cannot open the stream or finds no frame in it.
std::optional<DecodedMp3> DecodeMp3File(const std::filesystem::path& path, Mp3Decoding decoding);
std::optional<DecodedMp3> DecodeMp3Bytes(std::span<const uint8_t> mp3, Mp3Decoding decoding);

}  // namespace reel::test
