// Reading a ".mj" motion-JPEG file: its 44-byte header, its index and its chunks.
//
// Chunk e starts with its sound (16-bit PCM of the header's channels and rate), then a stretch of
// other bytes of a size the header gives, then its picture, a complete JPEG that ends where chunk
// e + 1 starts. The index has one entry more than there are chunks, so the last picture has an
// end. Every offset is checked against the file before it is read: a damaged entry gives no
// picture or no sound for its chunk, never a read outside the file.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/result.h"

namespace reel {

inline constexpr std::size_t kMjHeaderSize = 44;
inline constexpr std::size_t kMjIndexEntrySize = 24;
// A larger picture is taken for damage rather than read into memory.
inline constexpr uint64_t kMaxMjPictureBytes = uint64_t{64} << 20;

struct MjHeader {
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t rateNumerator = 0;
  uint16_t rateDenominator = 0;
  uint16_t indexEntries = 0;  // E, one more than the number of chunks
  uint16_t soundChunksPlusOne = 0;
  uint32_t baseOffset = 0;
  uint32_t indexOffset = 0;
  uint32_t gapSize = 0;  // bytes between a chunk's sound and its picture

  friend bool operator==(const MjHeader&, const MjHeader&) = default;
};

struct MjIndexEntry {
  uint32_t chunkStart = 0;    // relative to the base offset
  uint32_t pictureStart = 0;  // relative to the base offset
};

class MjFile {
 public:
  // Opens the file and reads its header and index. A file that cannot be opened or read is
  // kCannotRead; one shorter than the header, without index entries, or whose index lies outside
  // the file is kDamaged.
  static Result<MjFile> Open(const std::string& path);

  const MjHeader& Header() const { return header_; }
  // L, the number of chunks.
  uint32_t ChunkCount() const { return header_.indexEntries - 1u; }
  // The source rate: numerator / denominator, 0 when the denominator is 0.
  uint32_t SourceRate() const;

  // Chunk e's picture, or nothing when its bounds are damaged or it lies outside the file.
  std::optional<std::vector<uint8_t>> Picture(uint32_t chunk);
  // Chunk e's sound bytes (possibly none), or nothing when they lie outside the file or would
  // end after the picture starts.
  std::optional<std::vector<uint8_t>> Sound(uint32_t chunk);
  // The number of chunk e's sound bytes, from the index alone; nothing when Sound(e) would find
  // them out of bounds.
  std::optional<uint64_t> SoundSize(uint32_t chunk) const;

 private:
  MjFile(std::ifstream file, uint64_t fileSize, MjHeader header, std::vector<MjIndexEntry> index);
  std::optional<std::vector<uint8_t>> ReadRange(uint64_t start, uint64_t end);
  // Where chunk e's sound starts in the file, and its size; nothing when out of bounds.
  std::optional<std::pair<uint64_t, uint64_t>> SoundBounds(uint32_t chunk) const;

  std::ifstream file_;
  uint64_t fileSize_ = 0;
  MjHeader header_;
  std::vector<MjIndexEntry> index_;
};

// The header as it is stored (for writing test files and tools).
std::vector<uint8_t> MjHeaderBytes(const MjHeader& header);

}  // namespace reel
