// A whole file mapped read-only into memory, unmapped when the owner lets it go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/result.h"

namespace reel {

class MappedFile {
 public:
  MappedFile() = default;
  // An error naming the file when it cannot be opened (kNotFound when it does not exist) or
  // mapped. An empty file maps to an empty view.
  static Result<MappedFile> Open(const std::string& path);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  std::span<const uint8_t> Bytes() const { return {address_, size_}; }

 private:
  MappedFile(const uint8_t* address, std::size_t size) : address_(address), size_(size) {}
  void Unmap();

  const uint8_t* address_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace reel
