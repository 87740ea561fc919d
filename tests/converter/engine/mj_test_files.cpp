#include "mj_test_files.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "common/byte_io.h"
#include "converter/coder/bmp_image.h"
#include "converter/engine/mj_file.h"
#include "converter/jpeg/frame_jpeg.h"
#include "tests/support/file_bytes.h"

namespace reel::test {
namespace {

constexpr uint32_t kGap = 16;  // bytes between a chunk's sound and its picture

std::vector<uint8_t> Picture(const MjClip& clip, uint32_t chunk) {
  auto picture = BmpImage::Create(clip.width, clip.height);
  for (uint32_t row = 0; row < clip.height; ++row) {
    auto bytes = picture->Row(row);
    for (uint32_t x = 0; x < clip.width; ++x) {
      bytes[3 * x] = static_cast<uint8_t>(chunk * 8);
      bytes[3 * x + 1] = static_cast<uint8_t>(x);
      bytes[3 * x + 2] = static_cast<uint8_t>(row);
    }
  }
  return *EncodeFrameJpeg(*picture, 75);
}

uint64_t ChunkSoundSize(const MjClip& clip, uint32_t chunk) {
  if (!clip.soundBytes.empty()) return clip.soundBytes[chunk % clip.soundBytes.size()];
  const uint32_t framesPerSecond =
      clip.rateNumerator == 0 || clip.rateDenominator == 0 ? 15 : std::max(1, clip.rateNumerator / clip.rateDenominator);
  return uint64_t{clip.sampleRate / framesPerSecond} * 2u * clip.channels;
}

// Where chunk e's sound starts in the tone's bytes.
uint64_t ChunkSoundOffset(const MjClip& clip, uint32_t chunk) {
  if (clip.soundBytes.empty()) return uint64_t{chunk} * ChunkSoundSize(clip, 0);
  const uint64_t cycle = std::accumulate(clip.soundBytes.begin(), clip.soundBytes.end(), uint64_t{0});
  const std::size_t within = chunk % clip.soundBytes.size();
  return chunk / clip.soundBytes.size() * cycle +
         std::accumulate(clip.soundBytes.begin(), clip.soundBytes.begin() + static_cast<std::ptrdiff_t>(within), uint64_t{0});
}

}  // namespace

std::vector<uint8_t> MjChunkSound(const MjClip& clip, uint32_t chunk) {
  const uint32_t blockAlign = 2u * std::max<uint32_t>(1, clip.channels);
  const uint64_t offset = ChunkSoundOffset(clip, chunk);
  const uint64_t size = ChunkSoundSize(clip, chunk);
  const uint64_t firstFrame = offset / blockAlign;
  const uint64_t endFrame = (offset + size + blockAlign - 1) / blockAlign;
  const double rate = clip.sampleRate == 0 ? 22050.0 : clip.sampleRate;
  std::vector<uint8_t> frames;
  ByteWriter writer(frames);
  for (uint64_t frame = firstFrame; frame < endFrame; ++frame) {
    for (uint32_t c = 0; c < blockAlign / 2; ++c) {
      const double t = static_cast<double>(frame) / rate;
      writer.U16(static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(2 * 3.14159265 * (440 + 220 * c) * t))));
    }
  }
  const auto from = static_cast<std::ptrdiff_t>(offset - firstFrame * blockAlign);
  return {frames.begin() + from, frames.begin() + from + static_cast<std::ptrdiff_t>(size)};
}

bool WriteMj(const std::string& path, const MjClip& clip) {
  std::vector<uint8_t> body;
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  for (uint32_t e = 0; e < clip.chunks; ++e) {
    const auto sound = MjChunkSound(clip, e);
    auto picture = Picture(clip, e);
    if (clip.damagedPicture == e) std::fill(picture.begin(), picture.end(), uint8_t{0x5A});
    const auto chunkStart = static_cast<uint32_t>(body.size());
    body.insert(body.end(), sound.begin(), sound.end());
    body.insert(body.end(), kGap, 0);
    const auto pictureStart = static_cast<uint32_t>(body.size());
    body.insert(body.end(), picture.begin(), picture.end());
    const bool damaged = std::find(clip.damagedSound.begin(), clip.damagedSound.end(), e) != clip.damagedSound.end();
    // A damaged entry starts its chunk at its picture: the sound would end before it starts.
    entries.emplace_back(damaged ? pictureStart : chunkStart, pictureStart);
  }
  entries.emplace_back(static_cast<uint32_t>(body.size()), static_cast<uint32_t>(body.size()));
  MjHeader header;
  header.width = clip.width;
  header.height = clip.height;
  header.channels = clip.channels;
  header.sampleRate = clip.sampleRate;
  header.rateNumerator = clip.rateNumerator;
  header.rateDenominator = clip.rateDenominator;
  header.indexEntries = static_cast<uint16_t>(entries.size());
  header.soundChunksPlusOne = clip.soundChunksPlusOne.value_or(static_cast<uint16_t>(clip.chunks + 1));
  header.baseOffset = kMjHeaderSize;
  header.indexOffset = static_cast<uint32_t>(kMjHeaderSize + body.size());
  header.gapSize = kGap;
  std::vector<uint8_t> file = MjHeaderBytes(header);
  file.insert(file.end(), body.begin(), body.end());
  ByteWriter writer(file);
  for (const auto& [chunkStart, pictureStart] : entries) {
    writer.U32(chunkStart);
    writer.U32(0);
    writer.U32(pictureStart);
    for (int i = 0; i < 3; ++i) writer.U32(0);
  }
  return WriteAllBytes(path, file);
}

}  // namespace reel::test
