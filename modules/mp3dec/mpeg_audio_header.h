// The four-byte header that opens every MPEG audio frame (ISO/IEC 11172-3 2.4.1.3, 13818-3 2.4.2.3).
//
// Bits, most significant first: 11 sync bits, version (MPEG-2.5, reserved, MPEG-2, MPEG-1),
// layer (reserved, III, II, I), no-CRC, bit-rate index, sample-rate index, padding, private,
// channel mode (mono is 3), and fields the frame length does not depend on. Free-format frames
// (bit-rate index 0) carry no length in their header and are refused, as are reserved values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace reel {

struct MpegAudioHeader {
  uint8_t versionBits = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  uint8_t layer = 0;         // 1, 2 or 3
  uint32_t bitRateKbps = 0;
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  uint32_t frameLength = 0;       // bytes, header included
  uint32_t samplesPerFrame = 0;  // per channel
};

std::optional<MpegAudioHeader> ParseMpegAudioHeader(std::span<const uint8_t, 4> bytes);

}  // namespace reel
