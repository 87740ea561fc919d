// Finding the audio between an MP3 file's ID3v2 and ID3v1 tags.
#include "player/audio/mp3_tags.h"

#include <algorithm>

namespace reel {
namespace {

constexpr std::size_t kId3v1Bytes = 128;
constexpr std::size_t kId3v2HeaderBytes = 10;
constexpr std::size_t kId3v2FooterBytes = 10;
constexpr uint8_t kId3v2FooterFlag = 0x10;

bool StartsWith(std::span<const uint8_t> bytes, const char (&text)[4]) {
  return bytes.size() >= 3 && bytes[0] == static_cast<uint8_t>(text[0]) &&
         bytes[1] == static_cast<uint8_t>(text[1]) && bytes[2] == static_cast<uint8_t>(text[2]);
}

std::size_t Id3v2TagBytes(std::span<const uint8_t> file) {
  if (file.size() < kId3v2HeaderBytes || !StartsWith(file, "ID3")) return 0;
  std::size_t size = 0;
  for (std::size_t i = 6; i < 10; ++i) size = (size << 7) | (file[i] & 0x7Fu);
  std::size_t total = kId3v2HeaderBytes + size;
  // An ID3v2.4 tag may close with a footer that repeats the header.
  if (file[3] == 4 && (file[5] & kId3v2FooterFlag) != 0) total += kId3v2FooterBytes;
  return total;
}

}  // namespace

AudioRange FindAudioRange(std::span<const uint8_t> head, std::span<const uint8_t> tail, std::size_t fileSize) {
  AudioRange range{0, fileSize};
  if (fileSize >= kId3v1Bytes && tail.size() >= kId3v1Bytes && StartsWith(tail.last(kId3v1Bytes), "TAG")) {
    range.end = fileSize - kId3v1Bytes;
  }
  range.start = std::min(Id3v2TagBytes(head), range.end);
  return range;
}

AudioRange FindAudioRange(std::span<const uint8_t> file) {
  return FindAudioRange(file.first(std::min(file.size(), kAudioRangeHeadBytes)), file, file.size());
}

}  // namespace reel
