// A sound stream's bytes: a memory block viewed in place, or a file read through a window.
#include "player/audio/sound_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace reel {

Result<SoundSource> SoundSource::OpenFile(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    const ErrorKind kind = errno == ENOENT ? ErrorKind::kNotFound : ErrorKind::kCannotRead;
    return MakeError(kind, path, std::string("cannot be opened: ") + std::strerror(errno));
  }
  SoundSource source;
  source.descriptor_ = descriptor;
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    return MakeError(ErrorKind::kCannotRead, path, "not a file");
  }
  source.size_ = static_cast<std::size_t>(info.st_size);
  source.window_.resize(kWindowBytes);
  return source;
}

SoundSource::SoundSource(SoundSource&& other) noexcept
    : memory_(std::exchange(other.memory_, {})),
      descriptor_(std::exchange(other.descriptor_, -1)),
      size_(std::exchange(other.size_, 0)),
      window_(std::move(other.window_)),
      windowStart_(std::exchange(other.windowStart_, 0)),
      windowLength_(std::exchange(other.windowLength_, 0)) {}

SoundSource& SoundSource::operator=(SoundSource&& other) noexcept {
  if (this != &other) {
    CloseFile();
    memory_ = std::exchange(other.memory_, {});
    descriptor_ = std::exchange(other.descriptor_, -1);
    size_ = std::exchange(other.size_, 0);
    window_ = std::move(other.window_);
    windowStart_ = std::exchange(other.windowStart_, 0);
    windowLength_ = std::exchange(other.windowLength_, 0);
  }
  return *this;
}

SoundSource::~SoundSource() { CloseFile(); }

void SoundSource::CloseFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

std::span<const uint8_t> SoundSource::View(std::size_t offset, std::size_t count) {
  if (offset >= size_) return {};
  count = std::min({count, size_ - offset, kWindowBytes});
  if (descriptor_ < 0) return memory_.subspan(offset, count);
  const bool inWindow = offset >= windowStart_ && offset - windowStart_ + count <= windowLength_;
  if (!inWindow) {
    // The window moves to start at `offset`; a short read leaves it shorter.
    windowStart_ = offset;
    windowLength_ = 0;
    const std::size_t wanted = std::min(window_.size(), size_ - offset);
    while (windowLength_ < wanted) {
      const ssize_t got = ::pread(descriptor_, window_.data() + windowLength_, wanted - windowLength_,
                                  static_cast<off_t>(offset + windowLength_));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      windowLength_ += static_cast<std::size_t>(got);
    }
  }
  const std::size_t available = windowLength_ - std::min(windowLength_, offset - windowStart_);
  return std::span<const uint8_t>(window_).subspan(offset - windowStart_, std::min(count, available));
}

}  // namespace reel
