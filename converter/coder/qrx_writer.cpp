#include "converter/coder/qrx_writer.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "common/qrx_format.h"

namespace reel {
namespace {

constexpr uint32_t kRawBytesPerPixel = 3;

// Records the first failure and returns it.
Status Fail(QrxOutput& movie, ErrorKind kind, const std::string& what) {
  if (movie.status) movie.status = MakeError(kind, movie.path, what);
  return movie.status;
}

std::string SystemError() { return std::strerror(errno); }

std::span<uint8_t, kQrxHeaderSize> HeaderBytes(QrxOutput& movie) {
  return std::span<uint8_t>(movie.headerAndIndex).first<kQrxHeaderSize>();
}

QrxHeader Header(const QrxOutput& movie) {
  if (movie.headerAndIndex.size() < kQrxHeaderSize) return QrxHeader{};  // BeginQrx has not run
  return ReadQrxHeader(std::span<const uint8_t>(movie.headerAndIndex).first<kQrxHeaderSize>());
}

Status WriteAll(QrxOutput& movie, std::span<const uint8_t> bytes) {
  if (!movie.file) return Fail(movie, ErrorKind::kCannotWrite, "the movie file is not open");
  if (bytes.empty()) return movie.status;
  if (std::fwrite(bytes.data(), 1, bytes.size(), movie.file.get()) != bytes.size()) {
    return Fail(movie, ErrorKind::kCannotWrite, "write failed: " + SystemError());
  }
  return movie.status;
}

}  // namespace

QrxOutput CreateQrxFile(const std::string& path) {
  QrxOutput movie;
  movie.path = path;
  movie.file.reset(std::fopen(path.c_str(), "wb"));
  if (!movie.file) static_cast<void>(Fail(movie, ErrorKind::kCannotWrite, "cannot create the movie file: " + SystemError()));
  return movie;
}

Status BeginQrx(QrxOutput& movie, uint32_t frameCount, uint32_t frameRate, PictureSizeChoice pictureSizeChoice) {
  const uint64_t dataOffset = QrxDataOffset(frameCount);
  if (dataOffset > std::numeric_limits<uint32_t>::max()) {
    return Fail(movie, ErrorKind::kUsage, "too many frames for one movie");
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
  return WriteAll(movie, movie.headerAndIndex);
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

Status AppendQrxFrame(QrxOutput& movie, std::span<const uint8_t> codedFrame) {
  if (movie.framesAppended >= movie.frameCount) {
    return Fail(movie, ErrorKind::kUsage, "more frames than the index was made for");
  }
  const QrxHeader header = Header(movie);
  if (header.dataOffset + movie.runningOffset + codedFrame.size() > std::numeric_limits<uint32_t>::max()) {
    return Fail(movie, ErrorKind::kCannotWrite, "the movie would exceed 4 GiB");
  }
  Status written = WriteAll(movie, codedFrame);
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

Status FinishQrx(QrxOutput& movie) {
  if (movie.headerAndIndex.size() < kQrxHeaderSize) {
    return Fail(movie, ErrorKind::kUsage, "the movie was never begun");
  }
  QrxHeader header = Header(movie);
  header.fileSize = static_cast<uint32_t>(movie.runningOffset + QrxDataOffset(movie.frameCount));
  WriteQrxHeader(header, HeaderBytes(movie));
  if (movie.file) {
    if (std::fseek(movie.file.get(), 0, SEEK_SET) != 0) {
      static_cast<void>(Fail(movie, ErrorKind::kCannotWrite, "cannot rewind: " + SystemError()));
    }
    static_cast<void>(WriteAll(movie, movie.headerAndIndex));
    if (std::fclose(movie.file.release()) != 0) {
      static_cast<void>(Fail(movie, ErrorKind::kCannotWrite, "close failed: " + SystemError()));
    }
  }
  if (movie.framesAppended != movie.frameCount) {
    static_cast<void>(Fail(movie, ErrorKind::kCannotWrite,
                           "only " + std::to_string(movie.framesAppended) + " of " +
                               std::to_string(movie.frameCount) + " frames were written"));
  }
  return movie.status;
}

}  // namespace reel
