#include "platform/acm/wave_format.h"

#include <algorithm>

#include "common/byte_io.h"

namespace reel {

std::optional<WAVEFORMATEX> ReadWaveFormat(std::span<const uint8_t> bytes) {
  if (bytes.size() < kWaveFormatShortSize) return std::nullopt;
  ByteReader reader(bytes);
  WAVEFORMATEX format;
  format.formatTag = reader.U16();
  format.channels = reader.U16();
  format.samplesPerSec = reader.U32();
  format.avgBytesPerSec = reader.U32();
  format.blockAlign = reader.U16();
  format.bitsPerSample = reader.U16();
  format.extraSize = bytes.size() >= kWaveFormatSize ? reader.U16() : uint16_t{0};
  return format;
}

std::optional<AudioFormat> ReadAudioFormat(std::span<const uint8_t> bytes) {
  const auto wave = ReadWaveFormat(bytes);
  if (!wave) return std::nullopt;
  AudioFormat format(*wave);
  if (bytes.size() > kWaveFormatSize) {
    const auto extra = bytes.subspan(kWaveFormatSize);
    const std::size_t kept = std::min<std::size_t>(extra.size(), wave->extraSize);
    format.extra.assign(extra.begin(), extra.begin() + static_cast<std::ptrdiff_t>(kept));
  }
  return format;
}

void WriteWaveFormat(const WAVEFORMATEX& format, std::span<uint8_t, kWaveFormatSize> bytes) {
  StoreU16(bytes.subspan<0, 2>(), format.formatTag);
  StoreU16(bytes.subspan<2, 2>(), format.channels);
  StoreU32(bytes.subspan<4, 4>(), format.samplesPerSec);
  StoreU32(bytes.subspan<8, 4>(), format.avgBytesPerSec);
  StoreU16(bytes.subspan<12, 2>(), format.blockAlign);
  StoreU16(bytes.subspan<14, 2>(), format.bitsPerSample);
  StoreU16(bytes.subspan<16, 2>(), format.extraSize);
}

std::vector<uint8_t> WaveFormatBytes(const WAVEFORMATEX& format) {
  std::vector<uint8_t> bytes(kWaveFormatSize);
  WriteWaveFormat(format, std::span<uint8_t, kWaveFormatSize>(bytes.data(), kWaveFormatSize));
  return bytes;
}

WAVEFORMATEX PcmWaveFormat(uint32_t samplesPerSec, uint16_t channels, uint16_t bitsPerSample) {
  WAVEFORMATEX format;
  format.formatTag = kWaveFormatPcm;
  format.channels = channels;
  format.samplesPerSec = samplesPerSec;
  format.blockAlign = static_cast<uint16_t>(channels * (bitsPerSample / 8));
  format.avgBytesPerSec = samplesPerSec * format.blockAlign;
  format.bitsPerSample = bitsPerSample;
  return format;
}

}  // namespace reel
