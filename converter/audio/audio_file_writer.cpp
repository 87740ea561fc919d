// The companion file writer on POSIX files. A write may be cut short by a signal or by the
// system's per-call limit, so it is repeated until every byte is out or the disk refuses more.
#include "converter/audio/audio_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace reel {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~FileDescriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return descriptor_; }
  bool Valid() const { return descriptor_ >= 0; }

 private:
  int descriptor_;
};

void MoveTo(int descriptor, int32_t origin, int64_t offset) {
  int whence = 0;
  switch (origin) {
    case kWriteFromStart: whence = SEEK_SET; break;
    case kWriteFromCurrent: whence = SEEK_CUR; break;
    case kWriteFromEnd: whence = SEEK_END; break;
    default: return;
  }
  if (::lseek(descriptor, static_cast<off_t>(offset), whence) < 0) ::lseek(descriptor, 0, SEEK_SET);
}

std::size_t WriteAll(int descriptor, std::span<const uint8_t> data) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t result = ::write(descriptor, data.data() + written, data.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) break;
    written += static_cast<std::size_t>(result);
  }
  return written;
}

}  // namespace

std::size_t WriteWholeFile(const std::string& path, std::span<const uint8_t> data, int32_t origin, int64_t offset,
                           bool create) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (create ? O_TRUNC : 0);
  const FileDescriptor file(::open(path.c_str(), flags, 0666));
  if (!file.Valid()) return 0;
  MoveTo(file.Get(), origin, offset);
  return WriteAll(file.Get(), data);
}

std::optional<AudioFileStream> AudioFileStream::Create(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_TRUNC, 0666);
  if (descriptor < 0) return std::nullopt;
  return AudioFileStream(descriptor);
}

AudioFileStream::AudioFileStream(AudioFileStream&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), written_(other.written_) {}

AudioFileStream& AudioFileStream::operator=(AudioFileStream&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
    written_ = other.written_;
  }
  return *this;
}

AudioFileStream::~AudioFileStream() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

bool AudioFileStream::Close() {
  if (descriptor_ < 0) return false;
  return ::close(std::exchange(descriptor_, -1)) == 0;
}

bool AudioFileStream::Write(std::span<const uint8_t> piece) {
  if (descriptor_ < 0) return false;
  const std::size_t written = WriteAll(descriptor_, piece);
  written_ += written;
  return written == piece.size();
}

}  // namespace reel
