// Where the audio of an MP3 file lies between its tags.
//
// An ID3v1 tag is the last 128 bytes when they begin with "TAG". An ID3v2 tag at the start is a
// 10-byte header ("ID3", version, flags, a 28-bit size stored seven bits to a byte, most
// significant first) and that many bytes; a footer flag adds a 10-byte footer. The audio range is
// what lies between; a tag that claims more than the file holds leaves an empty range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace reel {

struct AudioRange {
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t Size() const { return end - start; }
};

AudioRange FindAudioRange(std::span<const uint8_t> file);

// The same from the file's first kAudioRangeHeadBytes, its last kAudioRangeTailBytes (or fewer
// when the file is shorter) and its size.
inline constexpr std::size_t kAudioRangeHeadBytes = 10;
inline constexpr std::size_t kAudioRangeTailBytes = 128;
AudioRange FindAudioRange(std::span<const uint8_t> head, std::span<const uint8_t> tail, std::size_t fileSize);

}  // namespace reel
