// Reading the encoder's information frame at the start of an MP3 stream.
#include "player/audio/mp3_info_frame.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace reel {
namespace {

constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kCrcBytes = 2;
constexpr uint32_t kFramesFlag = 0x1;
constexpr uint32_t kBytesFlag = 0x2;
constexpr uint32_t kSeekTableFlag = 0x4;
constexpr uint32_t kQualityFlag = 0x8;
constexpr std::size_t kSeekTableBytes = 100;
// In the encoder's extension: the name, then the delay and padding 21 bytes in.
constexpr std::size_t kEncoderNameBytes = 9;
constexpr std::size_t kDelayPaddingOffset = 21;
constexpr std::size_t kExtensionBytes = 24;
// Encoders whose extension carries delay and padding in this layout.
constexpr std::array<const char*, 4> kExtensionEncoders = {"LAME", "Lavc", "Lavf", "GOGO"};

uint32_t BigEndian32(std::span<const uint8_t> bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

bool HasExtension(std::span<const uint8_t> extension) {
  return std::any_of(kExtensionEncoders.begin(), kExtensionEncoders.end(), [&](const char* name) {
    return std::memcmp(extension.data(), name, 4) == 0;
  });
}

}  // namespace

std::optional<uint64_t> Mp3InfoFrame::EndSample() const {
  if (!frames) return std::nullopt;
  const uint64_t total = uint64_t{*frames} * samplesPerFrame + kMp3DecoderDelay;
  return std::max(total - std::min<uint64_t>(total, padding), FirstSample());
}

std::optional<Mp3InfoFrame> ReadMp3InfoFrame(std::span<const uint8_t> frame) {
  if (frame.size() < kHeaderBytes || frame[0] != 0xFF || (frame[1] & 0xE0) != 0xE0) {
    return std::nullopt;
  }
  const uint32_t version = (frame[1] >> 3) & 3u;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const uint32_t layer = (frame[1] >> 1) & 3u;    // 1: Layer III
  if (version == 1 || layer != 1) return std::nullopt;
  const bool mpeg1 = version == 3;
  const bool mono = ((frame[3] >> 6) & 3u) == 3;
  const bool crc = (frame[1] & 1u) == 0;
  const std::size_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  std::size_t at = kHeaderBytes + (crc ? kCrcBytes : 0) + sideInfo;
  if (frame.size() < at + 8) return std::nullopt;
  const auto tag = frame.subspan(at, 4);
  if (std::memcmp(tag.data(), "Xing", 4) != 0 && std::memcmp(tag.data(), "Info", 4) != 0) {
    return std::nullopt;
  }
  Mp3InfoFrame info;
  info.samplesPerFrame = mpeg1 ? 1152 : 576;
  const uint32_t flags = BigEndian32(frame.subspan(at + 4, 4));
  at += 8;
  if ((flags & kFramesFlag) != 0) {
    if (frame.size() < at + 4) return info;
    info.frames = BigEndian32(frame.subspan(at, 4));
    at += 4;
  }
  if ((flags & kBytesFlag) != 0) at += 4;
  if ((flags & kSeekTableFlag) != 0) at += kSeekTableBytes;
  if ((flags & kQualityFlag) != 0) at += 4;
  if (frame.size() < at + kExtensionBytes) return info;
  const auto extension = frame.subspan(at, kExtensionBytes);
  if (!HasExtension(extension.first(kEncoderNameBytes))) return info;
  const auto delayPadding = extension.subspan(kDelayPaddingOffset, 3);
  info.encoderDelay = (uint32_t{delayPadding[0]} << 4) | (delayPadding[1] >> 4);
  info.padding = ((uint32_t{delayPadding[1]} & 0xFu) << 8) | delayPadding[2];
  return info;
}

}  // namespace reel
