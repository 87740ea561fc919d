// Parsing of MPEG audio frame headers: the tables of ISO/IEC 11172-3 and 13818-3.
#include "modules/mp3dec/mpeg_audio_header.h"

#include <array>

namespace reel {
namespace {

constexpr uint8_t kMpeg1 = 3;
constexpr uint8_t kReservedVersion = 1;

// kbit/s by bit-rate index 1..14; [MPEG-1 or not][layer - 1].
constexpr std::array<std::array<std::array<uint16_t, 15>, 3>, 2> kBitRates = {{
    {{{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}},
    {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}},
}};

// Hz by sample-rate index 0..2 for MPEG-1; MPEG-2 halves and MPEG-2.5 quarters them.
constexpr std::array<uint32_t, 3> kMpeg1SampleRates = {44100, 48000, 32000};

uint32_t FrameLength(uint8_t versionBits, uint8_t layer, uint32_t bitRate, uint32_t sampleRate,
                     uint32_t padding) {
  const uint32_t bitsPerSecond = bitRate * 1000;
  if (layer == 1) return (12 * bitsPerSecond / sampleRate + padding) * 4;
  const uint32_t slots = (layer == 3 && versionBits != kMpeg1) ? 72 : 144;
  return slots * bitsPerSecond / sampleRate + padding;
}

uint32_t SamplesPerFrame(uint8_t versionBits, uint8_t layer) {
  if (layer == 1) return 384;
  if (layer == 3 && versionBits != kMpeg1) return 576;
  return 1152;
}

}  // namespace

std::optional<MpegAudioHeader> ParseMpegAudioHeader(std::span<const uint8_t, 4> bytes) {
  if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return std::nullopt;
  const auto versionBits = static_cast<uint8_t>((bytes[1] >> 3) & 3);
  const auto layerBits = static_cast<uint8_t>((bytes[1] >> 1) & 3);
  const auto bitRateIndex = static_cast<uint8_t>(bytes[2] >> 4);
  const auto rateIndex = static_cast<uint8_t>((bytes[2] >> 2) & 3);
  if (versionBits == kReservedVersion || layerBits == 0 || bitRateIndex == 0 ||
      bitRateIndex == 15 || rateIndex == 3) {
    return std::nullopt;
  }
  MpegAudioHeader header;
  header.versionBits = versionBits;
  header.layer = static_cast<uint8_t>(4 - layerBits);
  const std::size_t family = versionBits == kMpeg1 ? 1 : 0;
  header.bitRateKbps = kBitRates[family][header.layer - 1][bitRateIndex];
  const uint32_t divisor = versionBits == kMpeg1 ? 1 : (versionBits == 2 ? 2 : 4);
  header.sampleRate = kMpeg1SampleRates[rateIndex] / divisor;
  header.channels = (bytes[3] >> 6) == 3 ? 1 : 2;
  header.frameLength = FrameLength(versionBits, header.layer, header.bitRateKbps,
                                    header.sampleRate, (bytes[2] >> 1) & 1u);
  header.samplesPerFrame = SamplesPerFrame(versionBits, header.layer);
  return header;
}

}  // namespace reel
