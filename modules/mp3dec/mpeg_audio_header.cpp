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

uint32_t FrameLength(uint8_t version_bits, uint8_t layer, uint32_t bit_rate, uint32_t sample_rate,
                     uint32_t padding) {
  const uint32_t bits_per_second = bit_rate * 1000;
  if (layer == 1) return (12 * bits_per_second / sample_rate + padding) * 4;
  const uint32_t slots = (layer == 3 && version_bits != kMpeg1) ? 72 : 144;
  return slots * bits_per_second / sample_rate + padding;
}

uint32_t SamplesPerFrame(uint8_t version_bits, uint8_t layer) {
  if (layer == 1) return 384;
  if (layer == 3 && version_bits != kMpeg1) return 576;
  return 1152;
}

}  // namespace

std::optional<MpegAudioHeader> ParseMpegAudioHeader(std::span<const uint8_t, 4> bytes) {
  if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return std::nullopt;
  const auto version_bits = static_cast<uint8_t>((bytes[1] >> 3) & 3);
  const auto layer_bits = static_cast<uint8_t>((bytes[1] >> 1) & 3);
  const auto bit_rate_index = static_cast<uint8_t>(bytes[2] >> 4);
  const auto rate_index = static_cast<uint8_t>((bytes[2] >> 2) & 3);
  if (version_bits == kReservedVersion || layer_bits == 0 || bit_rate_index == 0 ||
      bit_rate_index == 15 || rate_index == 3) {
    return std::nullopt;
  }
  MpegAudioHeader header;
  header.version_bits = version_bits;
  header.layer = static_cast<uint8_t>(4 - layer_bits);
  const std::size_t family = version_bits == kMpeg1 ? 1 : 0;
  header.bit_rate_kbps = kBitRates[family][header.layer - 1][bit_rate_index];
  const uint32_t divisor = version_bits == kMpeg1 ? 1 : (version_bits == 2 ? 2 : 4);
  header.sample_rate = kMpeg1SampleRates[rate_index] / divisor;
  header.channels = (bytes[3] >> 6) == 3 ? 1 : 2;
  header.frame_length = FrameLength(version_bits, header.layer, header.bit_rate_kbps,
                                    header.sample_rate, (bytes[2] >> 1) & 1u);
  header.samples_per_frame = SamplesPerFrame(version_bits, header.layer);
  return header;
}

}  // namespace reel
