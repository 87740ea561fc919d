// The audio format record that travels with every block of sound: the platform's WAVEFORMATEX.
//
// On disk and between modules it is 18 packed little-endian bytes: format tag, channels, samples
// per second, average bytes per second, block align, bits per sample, extra size; a format with
// codec data carries `extraSize` more bytes right after it. The struct below keeps each field at
// the same offset as the packed record (checked at compile time), so a pointer to it can be handed
// to a module whose interface takes the record; files are still read and written field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace reel {

inline constexpr std::size_t kWaveFormatSize = 18;
// An older form of the record stops before the extra-size field.
inline constexpr std::size_t kWaveFormatShortSize = 16;

inline constexpr uint16_t kWaveFormatPcm = 0x0001;
inline constexpr uint16_t kWaveFormatMsAdpcm = 0x0002;
inline constexpr uint16_t kWaveFormatIeeeFloat = 0x0003;
inline constexpr uint16_t kWaveFormatAlaw = 0x0006;
inline constexpr uint16_t kWaveFormatMulaw = 0x0007;
inline constexpr uint16_t kWaveFormatImaAdpcm = 0x0011;
inline constexpr uint16_t kWaveFormatMpeg = 0x0050;  // MPEG audio layer 1 or 2
inline constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;
inline constexpr uint16_t kWaveFormatAc3 = 0x2000;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

struct WAVEFORMATEX {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;

  friend bool operator==(const WAVEFORMATEX&, const WAVEFORMATEX&) = default;
};

static_assert(offsetof(WAVEFORMATEX, formatTag) == 0 && offsetof(WAVEFORMATEX, channels) == 2 &&
              offsetof(WAVEFORMATEX, samplesPerSec) == 4 && offsetof(WAVEFORMATEX, avgBytesPerSec) == 8 &&
              offsetof(WAVEFORMATEX, blockAlign) == 12 && offsetof(WAVEFORMATEX, bitsPerSample) == 14 &&
              offsetof(WAVEFORMATEX, extraSize) == 16,
              "WAVEFORMATEX fields must sit where the packed record has them");

// A format record together with the codec data that follows it.
struct AudioFormat {
  AudioFormat() = default;
  AudioFormat(const WAVEFORMATEX& format) : wave(format) {}  // NOLINT: a plain record is a format
  AudioFormat(const WAVEFORMATEX& format, std::vector<uint8_t> codecData)
      : wave(format), extra(std::move(codecData)) {}

  WAVEFORMATEX wave;
  std::vector<uint8_t> extra;
};

// Reads the record from its packed bytes: 16 bytes (extra size 0) or at least 18. Nothing when
// there are fewer.
std::optional<WAVEFORMATEX> ReadWaveFormat(std::span<const uint8_t> bytes);

// Reads a whole format block as a stream header stores it: the record and as much of its codec
// data as the block holds (a block cut short keeps only the bytes it has).
std::optional<AudioFormat> ReadAudioFormat(std::span<const uint8_t> bytes);

// The packed 18-byte form of the record.
void WriteWaveFormat(const WAVEFORMATEX& format, std::span<uint8_t, kWaveFormatSize> bytes);
std::vector<uint8_t> WaveFormatBytes(const WAVEFORMATEX& format);

// A plain PCM record: block align and average rate follow from the other three fields.
WAVEFORMATEX PcmWaveFormat(uint32_t samplesPerSec, uint16_t channels, uint16_t bitsPerSample);

}  // namespace reel
