// Read-only mapping of a whole file (open, map, close the descriptor; unmap on release).
#include "player/audio/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace reel {

namespace {

Error SystemError(const std::string& path, const char* what) {
  const ErrorKind kind = errno == ENOENT ? ErrorKind::kNotFound : ErrorKind::kCannotRead;
  return MakeError(kind, path, std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

Result<MappedFile> MappedFile::Open(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return SystemError(path, "cannot be opened");
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) {
    Error error = SystemError(path, "cannot be examined");
    ::close(descriptor);
    return error;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(descriptor);
    return MakeError(ErrorKind::kCannotRead, path, "not a file");
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  if (size == 0) {
    ::close(descriptor);
    return MappedFile(nullptr, 0);
  }
  void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
  if (address == MAP_FAILED) {
    Error error = SystemError(path, "cannot be mapped");
    ::close(descriptor);
    return error;
  }
  ::close(descriptor);  // the mapping keeps the file open
  return MappedFile(static_cast<const uint8_t*>(address), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Unmap();
    address_ = std::exchange(other.address_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() { Unmap(); }

void MappedFile::Unmap() {
  if (address_ != nullptr) ::munmap(const_cast<uint8_t*>(address_), size_);
  address_ = nullptr;
  size_ = 0;
}

}  // namespace reel
