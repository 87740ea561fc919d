// Read-only mapping of a whole file (open, map, close the descriptor; unmap on release).
#include "player/audio/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace reel {

std::optional<MappedFile> MappedFile::Open(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(descriptor);
    return std::nullopt;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  if (size == 0) {
    ::close(descriptor);
    return MappedFile(nullptr, 0);
  }
  void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
  ::close(descriptor);  // the mapping keeps the file open
  if (address == MAP_FAILED) return std::nullopt;
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
