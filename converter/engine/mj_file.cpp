#include "converter/engine/mj_file.h"

#include <utility>

#include "common/byte_io.h"
#include "common/source_file.h"

namespace reel {
namespace {

MjHeader ParseHeader(std::span<const uint8_t> bytes) {
  ByteReader reader(bytes);
  MjHeader header;
  reader.Skip(8);
  header.width = reader.U16();
  header.height = reader.U16();
  reader.Skip(2);
  header.channels = reader.U16();
  header.sampleRate = reader.U32();
  header.rateNumerator = reader.U16();
  header.rateDenominator = reader.U16();
  header.indexEntries = reader.U16();
  header.soundChunksPlusOne = reader.U16();
  header.baseOffset = reader.U32();
  header.indexOffset = reader.U32();
  header.gapSize = reader.U32();
  return header;
}

std::optional<std::vector<uint8_t>> ReadAt(std::ifstream& file, uint64_t start, uint64_t length) {
  std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
  file.clear();
  file.seekg(static_cast<std::streamoff>(start));
  if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length))) return std::nullopt;
  return bytes;
}

}  // namespace

Result<MjFile> MjFile::Open(const std::string& path) {
  if (Status kind = RequireRegularFile(path); !kind) return kind.error();
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) {
    return MakeError(ErrorKind::kCannotRead, path, "cannot open the file");
  }
  const auto end = file.tellg();
  const uint64_t fileSize = end < 0 ? 0 : static_cast<uint64_t>(end);
  if (fileSize < kMjHeaderSize) {
    return MakeError(ErrorKind::kDamaged, path, "too short for a .mj header");
  }
  const auto headerBytes = ReadAt(file, 0, kMjHeaderSize);
  if (!headerBytes) {
    return MakeError(ErrorKind::kCannotRead, path, "cannot read the .mj header");
  }
  const MjHeader header = ParseHeader(*headerBytes);
  if (header.indexEntries == 0) {
    return MakeError(ErrorKind::kDamaged, path, "the .mj index has no entries");
  }
  const uint64_t indexSize = uint64_t{header.indexEntries} * kMjIndexEntrySize;
  if (uint64_t{header.indexOffset} + indexSize > fileSize) {
    return MakeError(ErrorKind::kDamaged, path, "the .mj index lies outside the file");
  }
  const auto indexBytes = ReadAt(file, header.indexOffset, indexSize);
  if (!indexBytes) {
    return MakeError(ErrorKind::kCannotRead, path, "cannot read the .mj index");
  }
  std::vector<MjIndexEntry> index(header.indexEntries);
  const std::span<const uint8_t> indexSpan(*indexBytes);
  for (std::size_t e = 0; e < index.size(); ++e) {
    const auto entry = indexSpan.subspan(e * kMjIndexEntrySize, kMjIndexEntrySize);
    index[e].chunkStart = LoadU32(entry.subspan<0, 4>());
    index[e].pictureStart = LoadU32(entry.subspan<8, 4>());
  }
  return MjFile(std::move(file), fileSize, header, std::move(index));
}

MjFile::MjFile(std::ifstream file, uint64_t fileSize, MjHeader header, std::vector<MjIndexEntry> index)
    : file_(std::move(file)), fileSize_(fileSize), header_(header), index_(std::move(index)) {}

uint32_t MjFile::SourceRate() const {
  if (header_.rateDenominator == 0) return 0;
  return header_.rateNumerator / header_.rateDenominator;
}

std::optional<std::vector<uint8_t>> MjFile::ReadRange(uint64_t start, uint64_t end) {
  if (end < start || end > fileSize_) return std::nullopt;
  return ReadAt(file_, start, end - start);
}

std::optional<std::vector<uint8_t>> MjFile::Picture(uint32_t chunk) {
  if (uint64_t{chunk} + 1 >= index_.size()) return std::nullopt;
  const uint64_t start = uint64_t{header_.baseOffset} + index_[chunk].pictureStart;
  const uint64_t end = uint64_t{header_.baseOffset} + index_[chunk + 1].chunkStart;
  if (end <= start || end - start > kMaxMjPictureBytes) return std::nullopt;
  return ReadRange(start, end);
}

std::optional<std::pair<uint64_t, uint64_t>> MjFile::SoundBounds(uint32_t chunk) const {
  if (chunk >= index_.size()) return std::nullopt;
  const MjIndexEntry& entry = index_[chunk];
  const int64_t length = int64_t{entry.pictureStart} - int64_t{entry.chunkStart} - int64_t{header_.gapSize};
  if (length < 0) return std::nullopt;
  const uint64_t start = uint64_t{header_.baseOffset} + entry.chunkStart;
  if (start + static_cast<uint64_t>(length) > fileSize_) return std::nullopt;
  return std::pair{start, static_cast<uint64_t>(length)};
}

std::optional<std::vector<uint8_t>> MjFile::Sound(uint32_t chunk) {
  const auto bounds = SoundBounds(chunk);
  if (!bounds) return std::nullopt;
  return ReadRange(bounds->first, bounds->first + bounds->second);
}

std::optional<uint64_t> MjFile::SoundSize(uint32_t chunk) const {
  const auto bounds = SoundBounds(chunk);
  if (!bounds) return std::nullopt;
  return bounds->second;
}

std::vector<uint8_t> MjHeaderBytes(const MjHeader& header) {
  std::vector<uint8_t> bytes;
  ByteWriter writer(bytes);
  for (int i = 0; i < 8; ++i) writer.U8(0);
  writer.U16(header.width);
  writer.U16(header.height);
  writer.U16(0);
  writer.U16(header.channels);
  writer.U32(header.sampleRate);
  writer.U16(header.rateNumerator);
  writer.U16(header.rateDenominator);
  writer.U16(header.indexEntries);
  writer.U16(header.soundChunksPlusOne);
  writer.U32(header.baseOffset);
  writer.U32(header.indexOffset);
  writer.U32(header.gapSize);
  writer.U32(0);
  return bytes;
}

}  // namespace reel
