// The bytes of a companion sound file (MP3 or Ogg): a block in memory (not owned), or a file read
// as they are needed.
//
// A file is read, not mapped: a file that is cut short or replaced while it plays must end its
// sound, and touching a mapped page past a file's new end would kill the player instead. Reads go
// through a window of a few frames, so a stream reads its file in pieces, in order, as it plays.
// A file that has become shorter than it was at opening gives fewer bytes than asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"

namespace reel {

class SoundSource {
 public:
  // The most bytes one View hands back.
  static constexpr std::size_t kWindowBytes = 32768;

  SoundSource() = default;
  explicit SoundSource(std::span<const uint8_t> memory) : memory_(memory), size_(memory.size()) {}
  // An error naming the file when it cannot be opened (kNotFound when it does not exist) or is
  // not a regular file (kCannotRead).
  static Result<SoundSource> OpenFile(const std::string& path);

  SoundSource(SoundSource&& other) noexcept;
  SoundSource& operator=(SoundSource&& other) noexcept;
  SoundSource(const SoundSource&) = delete;
  SoundSource& operator=(const SoundSource&) = delete;
  ~SoundSource();

  // The size of the data (a file's when it was opened).
  std::size_t Size() const { return size_; }
  // Up to `count` (at most kWindowBytes) bytes from `offset`: fewer at the end of the data, or
  // where a file could not be read or has become shorter. Valid until the next View or the end of
  // the source.
  std::span<const uint8_t> View(std::size_t offset, std::size_t count);

 private:
  void CloseFile();

  std::span<const uint8_t> memory_;
  int descriptor_ = -1;
  std::size_t size_ = 0;
  std::vector<uint8_t> window_;
  std::size_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
};

}  // namespace reel
