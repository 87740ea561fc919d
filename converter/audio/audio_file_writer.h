// Writing the encoded soundtrack to its companion file: the raw stream, nothing around it, in one
// write, no temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace reel {

// Where `offset` counts from before the write.
inline constexpr int32_t kWriteFromStart = 0;
inline constexpr int32_t kWriteFromCurrent = 1;
inline constexpr int32_t kWriteFromEnd = 2;

// Opens `path` for writing (created anew, replacing any file of that name, when `create`;
// otherwise opened as it is or created when missing), moves to `offset` from `origin` (any other
// origin, or a position the file cannot take, leaves it at the start) and writes `data`. Returns
// the number of bytes written, or 0 when the file cannot be opened.
std::size_t WriteWholeFile(const std::string& path, std::span<const uint8_t> data, int32_t origin, int64_t offset,
                           bool create);

// A companion file written piece by piece as an encoder hands its stream over, for a stream too long
// to collect in memory first: created anew (replacing any file of that name), then each piece
// appended in full.
class AudioFileStream {
 public:
  // Nothing when the file cannot be created.
  static std::optional<AudioFileStream> Create(const std::string& path);

  AudioFileStream(AudioFileStream&& other) noexcept;
  AudioFileStream& operator=(AudioFileStream&& other) noexcept;
  AudioFileStream(const AudioFileStream&) = delete;
  AudioFileStream& operator=(const AudioFileStream&) = delete;
  ~AudioFileStream();

  // False when the piece could not be written whole.
  bool Write(std::span<const uint8_t> piece);
  uint64_t Written() const { return written_; }
  // Closes the file; false (errno set) when the system reports that written data was lost.
  bool Close();

 private:
  explicit AudioFileStream(int descriptor) : descriptor_(descriptor) {}
  int descriptor_ = -1;
  uint64_t written_ = 0;
};

}  // namespace reel
