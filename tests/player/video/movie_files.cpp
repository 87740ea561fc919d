#include "movie_files.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "common/qrx_format.h"
#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel::test {

std::vector<std::vector<uint8_t>> CodedFrames(uint32_t width, uint32_t height, uint32_t count) {
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t k = 0; k < count; ++k) {
    frames.push_back(*CodeCoefficients(MakeSampleCoefficients(width, height, 50, k), 50));
  }
  return frames;
}

void WriteMovie(const std::string& path, const std::vector<std::vector<uint8_t>>& frames, uint32_t rate,
                uint32_t width, uint32_t height) {
  QrxOutput movie = CreateQrxFile(path);
  static_cast<void>(BeginQrx(movie, static_cast<uint32_t>(frames.size()), rate, PictureSizeChoice::k320x240));
  SetQrxPictureSize(movie, width, height);
  for (const auto& frame : frames) static_cast<void>(AppendQrxFrame(movie, frame));
  if (const Status finished = FinishQrx(movie); !finished) {
    throw std::runtime_error("cannot write " + path + ": " + finished.error().message);
  }
}

std::vector<uint8_t> LayContainer(uint32_t frameCount, uint32_t rate, uint32_t width, uint32_t height,
                                  const std::vector<LaidFrame>& frames, uint64_t fileLength) {
  const uint64_t dataStart = QrxDataOffset(frames.size());
  std::vector<uint8_t> bytes(dataStart, 0);
  QrxHeader header;
  header.frameCount = frameCount;
  header.frameRate = rate;
  header.width = width;
  header.height = height;
  header.dataOffset = static_cast<uint32_t>(QrxDataOffset(frameCount));
  WriteQrxHeader(header, std::span<uint8_t>(bytes).first<kQrxHeaderSize>());
  for (std::size_t k = 0; k < frames.size(); ++k) {
    QrxIndexEntry entry;
    entry.frameNumber = static_cast<uint32_t>(k);
    entry.codedSize = frames[k].codedSize;
    entry.frameOffset = frames[k].frameOffset;
    WriteQrxIndexEntry(entry, std::span<uint8_t>(bytes).subspan(QrxDataOffset(k)).first<kQrxIndexEntrySize>());
    if (frames[k].bytes.empty()) continue;
    const uint64_t at = dataStart + frames[k].frameOffset;
    if (bytes.size() < at + frames[k].bytes.size()) bytes.resize(at + frames[k].bytes.size());
    std::copy(frames[k].bytes.begin(), frames[k].bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  if (fileLength != 0) bytes.resize(fileLength);
  return bytes;
}

std::vector<LaidFrame> BackToBack(uint32_t count, uint32_t size) {
  std::vector<LaidFrame> frames;
  for (uint32_t k = 0; k < count; ++k) {
    frames.push_back(LaidFrame{size, k * size, std::vector<uint8_t>(size, static_cast<uint8_t>(k + 1))});
  }
  return frames;
}

}  // namespace reel::test
