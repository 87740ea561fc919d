#include "player/video/qrx_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "common/byte_io.h"
#include "common/qrx_format.h"

namespace reel {

// The movie file, opened read-only; reads name their offset, so the loader never seeks.
class QrxReader::File {
 public:
  explicit File(int descriptor) : descriptor_(descriptor) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { ::close(descriptor_); }

  static std::unique_ptr<File> Open(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    return std::make_unique<File>(descriptor);
  }

  // The length of a regular file, or none for anything else.
  std::optional<uint64_t> Length() const {
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(status.st_size);
  }

  // Reads exactly bytes.size() bytes at `offset`; false on a short read or an error.
  bool ReadAt(uint64_t offset, std::span<uint8_t> bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = ::pread(descriptor_, bytes.data() + done, bytes.size() - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int descriptor_;
};

namespace {

struct MovieTable {
  QrxHeader header;
  std::vector<uint8_t> indexBytes;
};

}  // namespace

Result<std::unique_ptr<QrxReader>> QrxReader::Open(const std::string& path, uint32_t bufferSize) {
  auto file = File::Open(path);
  if (!file) {
    const ErrorKind kind = errno == ENOENT ? ErrorKind::kNotFound : ErrorKind::kCannotRead;
    return MakeError(kind, path, std::string("cannot be opened: ") + std::strerror(errno));
  }
  const auto length = file->Length();
  std::array<uint8_t, kQrxHeaderSize> headerBytes{};
  if (!length || *length < kQrxHeaderSize || !file->ReadAt(0, headerBytes)) {
    return MakeError(ErrorKind::kNotThisFormat, path, "not a movie file (shorter than its header)");
  }
  const QrxHeader header = ReadQrxHeader(headerBytes);
  const uint64_t dataStart = QrxDataOffset(header.frameCount);
  if (dataStart > *length) {
    return MakeError(ErrorKind::kDamaged, path,
                     "the index of " + std::to_string(header.frameCount) + " frames does not fit the file");
  }
  std::vector<uint8_t> index(dataStart - kQrxHeaderSize);
  if (!file->ReadAt(kQrxHeaderSize, index)) {
    return MakeError(ErrorKind::kCannotRead, path, "the index cannot be read");
  }
  std::vector<FrameEntry> frames(header.frameCount);
  uint32_t largest = 0;
  for (uint32_t k = 0; k < header.frameCount; ++k) {
    const QrxIndexEntry entry = ReadQrxIndexEntry(
        std::span<const uint8_t>(index).subspan(std::size_t{k} * kQrxIndexEntrySize).first<kQrxIndexEntrySize>());
    frames[k].fileOffset = dataStart + entry.frameOffset;
    frames[k].size = entry.codedSize;
    if (frames[k].fileOffset + entry.codedSize > *length) {
      return MakeError(ErrorKind::kDamaged, path, "frame " + std::to_string(k) + " lies outside the file");
    }
    largest = std::max(largest, entry.codedSize);
  }
  if (header.width >= kWideMovieWidth) bufferSize = std::max(bufferSize, kWideLoadBufferSize);
  bufferSize = std::max(bufferSize, largest);

  auto reader = std::make_unique<QrxReader>(ConstructionKey(), std::move(file), std::move(frames),
                                            header.frameRate, header.width, header.height, bufferSize);
  std::unique_lock lock(reader->mutex_);
  if (reader->FrameCount() > 0) reader->Fill(lock, 0, 0);
  if (reader->nextToLoad_ < reader->FrameCount()) reader->Fill(lock, 1, reader->nextToLoad_);
  if (reader->failed_) {
    return MakeError(ErrorKind::kCannotRead, path, "the first frames cannot be read");
  }
  lock.unlock();
  reader->StartLoader();
  return Result<std::unique_ptr<QrxReader>>(std::move(reader));
}

QrxReader::QrxReader(ConstructionKey, std::unique_ptr<File> file, std::vector<FrameEntry> frames, uint32_t frameRate,
                     uint32_t width, uint32_t height, uint32_t bufferSize)
    : file_(std::move(file)),
      frames_(std::move(frames)),
      frameRate_(frameRate),
      width_(width),
      height_(height),
      bufferSize_(bufferSize) {
  for (LoadBuffer& buffer : buffers_) buffer.bytes.resize(bufferSize_);
}

QrxReader::~QrxReader() {
  {
    const std::lock_guard guard(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (loader_.joinable()) loader_.join();
}

void QrxReader::StartLoader() {
  if (!loader_.joinable()) loader_ = std::thread([this] { RunLoader(); });
}

uint32_t QrxReader::FillCount() const {
  const std::lock_guard guard(mutex_);
  return fills_;
}

bool QrxReader::Failed() const {
  const std::lock_guard guard(mutex_);
  return failed_;
}

bool QrxReader::Holds(const LoadBuffer& buffer, uint32_t index) const {
  return buffer.count > 0 && index >= buffer.first && index - buffer.first < buffer.count;
}

const QrxReader::LoadBuffer* QrxReader::BufferHolding(uint32_t index) const {
  for (const LoadBuffer& buffer : buffers_) {
    if (Holds(buffer, index)) return &buffer;
  }
  return nullptr;
}

// Takes frames first, first + 1, ... while their sizes together fit the buffer, at most two and
// never past the last frame. The buffer is unpublished (count 0) while it is read, with the lock
// released so that the player can go on taking frames from the other buffer.
void QrxReader::Fill(std::unique_lock<std::mutex>& lock, int which, uint32_t first) {
  LoadBuffer& buffer = buffers_[which];
  uint32_t count = 0;
  uint64_t total = 0;
  while (count < 2 && first + count < FrameCount() && total + frames_[first + count].size <= bufferSize_) {
    total += frames_[first + count].size;
    ++count;
  }
  buffer.first = first;
  buffer.count = 0;
  lock.unlock();
  const bool read = ReadFrames(buffer, first, count);
  lock.lock();
  ++fills_;
  if (!read) {
    failed_ = true;
  } else {
    buffer.count = count;
  }
  nextToLoad_ = first + count;
  refillNext_ = 1 - which;
  changed_.notify_all();
}

// Frames stored back to back come in with one read; others are read one by one.
bool QrxReader::ReadFrames(LoadBuffer& buffer, uint32_t first, uint32_t count) {
  if (count == 0) return true;
  const FrameEntry& head = frames_[first];
  buffer.secondStart = head.size;
  const std::span<uint8_t> bytes(buffer.bytes);
  if (count == 1) return file_->ReadAt(head.fileOffset, bytes.first(head.size));
  const FrameEntry& next = frames_[first + 1];
  if (head.fileOffset + head.size == next.fileOffset) {
    return file_->ReadAt(head.fileOffset, bytes.first(std::size_t{head.size} + next.size));
  }
  return file_->ReadAt(head.fileOffset, bytes.first(head.size)) &&
         file_->ReadAt(next.fileOffset, bytes.subspan(head.size, next.size));
}

// One step of the loader, under the lock: restart both buffers from the requested frame when
// neither holds it, or refill the buffer the player has moved past. False when there is nothing to
// do.
bool QrxReader::LoadNext(std::unique_lock<std::mutex>& lock) {
  if (failed_) return false;
  const uint32_t requested = requested_;
  if (requested < FrameCount() && BufferHolding(requested) == nullptr) {
    Fill(lock, 0, requested);
    if (!failed_ && !closing_ && nextToLoad_ < FrameCount()) Fill(lock, 1, nextToLoad_);
    return true;
  }
  const LoadBuffer& refill = buffers_[refillNext_];
  if (nextToLoad_ < FrameCount() && requested < FrameCount() && requested >= refill.first + refill.count) {
    Fill(lock, refillNext_, nextToLoad_);
    return true;
  }
  return false;
}

// The same test as LoadNext makes, without acting: the player wakes the loader only when it has a
// step to take, not on every frame it asks for.
bool QrxReader::LoaderHasWork() const {
  if (failed_) return false;
  const uint32_t requested = requested_;
  if (requested < FrameCount() && BufferHolding(requested) == nullptr) return true;
  const LoadBuffer& refill = buffers_[refillNext_];
  return nextToLoad_ < FrameCount() && requested < FrameCount() && requested >= refill.first + refill.count;
}

void QrxReader::RunLoader() {
  std::unique_lock lock(mutex_);
  while (!closing_) {
    if (!LoadNext(lock)) changed_.wait(lock);
  }
}

std::span<const uint8_t> QrxReader::GetFrame(uint32_t index) {
  if (index >= FrameCount()) return {};
  std::unique_lock lock(mutex_);
  requested_ = index;
  if (LoaderHasWork()) {
    // Woken with the lock held, the loader would at once sleep again on the lock: let it go first.
    lock.unlock();
    changed_.notify_all();
    lock.lock();
  }
  const LoadBuffer* buffer = nullptr;
  changed_.wait(lock, [&] {
    buffer = BufferHolding(index);
    return buffer != nullptr || failed_ || closing_;
  });
  if (buffer == nullptr) return {};
  const uint32_t start = index == buffer->first ? 0 : buffer->secondStart;
  return std::span<const uint8_t>(buffer->bytes).subspan(start, frames_[index].size);
}

}  // namespace reel
