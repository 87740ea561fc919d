#include "converter/coder/qrx_writer.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "common/qrx_format.h"

namespace reel {
namespace {

constexpr uint32_t kRawBytesPerPixel = 3;

void Fail(QrxOutput& movie, const std::string& what) {
  if (movie.error.empty()) movie.error = movie.path + ": " + what;
}

std::string SystemError() { return std::strerror(errno); }

std::span<uint8_t, kQrxHeaderSize> HeaderBytes(QrxOutput& movie) {
  return std::span<uint8_t>(movie.headerAndIndex).first<kQrxHeaderSize>();
}

QrxHeader Header(const QrxOutput& movie) {
  if (movie.headerAndIndex.size() < kQrxHeaderSize) return QrxHeader{};  // BeginQrx has not run
  return ReadQrxHeader(std::span<const uint8_t>(movie.headerAndIndex).first<kQrxHeaderSize>());
}

bool WriteAll(QrxOutput& movie, std::span<const uint8_t> bytes) {
  if (!movie.file) return false;
  if (bytes.empty()) return true;
  if (std::fwrite(bytes.data(), 1, bytes.size(), movie.file.get()) != bytes.size()) {
    Fail(movie, "write failed: " + SystemError());
    return false;
  }
  return true;
}

}  // namespace

QrxOutput CreateQrxFile(const std::string& path) {
  QrxOutput movie;
  movie.path = path;
  movie.file.reset(std::fopen(path.c_str(), "wb"));
  if (!movie.file) Fail(movie, "cannot create the movie file: " + SystemError());
  return movie;
}

bool BeginQrx(QrxOutput& movie, uint32_t frameCount, uint32_t frameRate, PictureSizeChoice pictureSizeChoice) {
  const uint64_t dataOffset = QrxDataOffset(frameCount);
  if (dataOffset > std::numeric_limits<uint32_t>::max()) {
    Fail(movie, "too many frames for one movie");
    return false;
  }
  movie.frameCount = frameCount;
  movie.headerAndIndex.assign(static_cast<std::size_t>(dataOffset), 0);
  QrxHeader header;
  header.frameCount = frameCount;
  header.frameRate = frameRate;
  header.width = BoxWidth(pictureSizeChoice);
  header.height = BoxHeight(pictureSizeChoice);
  header.dataOffset = static_cast<uint32_t>(dataOffset);
  WriteQrxHeader(header, HeaderBytes(movie));
  return WriteAll(movie, movie.headerAndIndex) && movie.Ok();
}

void SetQrxPictureSize(QrxOutput& movie, uint32_t width, uint32_t height) {
  if (movie.headerAndIndex.size() < kQrxHeaderSize) return;
  QrxHeader header = Header(movie);
  header.width = width;
  header.height = height;
  WriteQrxHeader(header, HeaderBytes(movie));
}

uint32_t QrxWidth(const QrxOutput& movie) { return Header(movie).width; }
uint32_t QrxHeight(const QrxOutput& movie) { return Header(movie).height; }

bool AppendQrxFrame(QrxOutput& movie, std::span<const uint8_t> codedFrame) {
  if (movie.framesAppended >= movie.frameCount) {
    Fail(movie, "more frames than the index was made for");
    return false;
  }
  const QrxHeader header = Header(movie);
  if (header.dataOffset + movie.runningOffset + codedFrame.size() > std::numeric_limits<uint32_t>::max()) {
    Fail(movie, "the movie would exceed 4 GiB");
    return false;
  }
  const bool written = WriteAll(movie, codedFrame);
  QrxIndexEntry entry;
  entry.frameNumber = movie.framesAppended;
  entry.codedSize = static_cast<uint32_t>(codedFrame.size());
  entry.rawSize = header.width * header.height * kRawBytesPerPixel;
  entry.frameOffset = static_cast<uint32_t>(movie.runningOffset);
  const std::size_t at = kQrxHeaderSize + kQrxIndexEntrySize * std::size_t{movie.framesAppended};
  WriteQrxIndexEntry(entry, std::span<uint8_t>(movie.headerAndIndex).subspan(at).first<kQrxIndexEntrySize>());
  movie.runningOffset += codedFrame.size();
  ++movie.framesAppended;
  return written;
}

bool FinishQrx(QrxOutput& movie) {
  if (movie.headerAndIndex.size() < kQrxHeaderSize) {
    Fail(movie, "the movie was never begun");
    return false;
  }
  QrxHeader header = Header(movie);
  header.fileSize = static_cast<uint32_t>(movie.runningOffset + QrxDataOffset(movie.frameCount));
  WriteQrxHeader(header, HeaderBytes(movie));
  if (movie.file) {
    if (std::fseek(movie.file.get(), 0, SEEK_SET) != 0) Fail(movie, "cannot rewind: " + SystemError());
    WriteAll(movie, movie.headerAndIndex);
    if (std::fclose(movie.file.release()) != 0) Fail(movie, "close failed: " + SystemError());
  }
  if (movie.framesAppended != movie.frameCount) {
    Fail(movie, "only " + std::to_string(movie.framesAppended) + " of " + std::to_string(movie.frameCount) +
                    " frames were written");
  }
  return movie.Ok();
}

}  // namespace reel
