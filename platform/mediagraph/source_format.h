// Which reader (demuxer) takes a media file, as the first opening of it found. A job opens its
// source several times (the pictures, the packet count, the soundtrack); handed to the later
// openings, this verdict spares each of them the format probe, which for program streams is a
// long look at the file's first megabyte. The verdict holds the file's size and modification time
// as they were: it is taken only for the same path while both are unchanged, and any other file
// is probed afresh.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct AVInputFormat;

namespace reel {

class SourceFormat {
 public:
  // The verdict `reader` for the file at `path` as it is now; none when the file cannot be looked at.
  static std::optional<SourceFormat> Of(const std::string& path, const AVInputFormat* reader);

  // The reader, when `path` names the same file, unchanged since the verdict; null otherwise.
  const AVInputFormat* ReaderFor(const std::string& path) const;

 private:
  SourceFormat() = default;

  const AVInputFormat* reader_ = nullptr;  // libavformat's own, alive for the whole process
  std::string path_;
  std::uintmax_t size_ = 0;
  std::filesystem::file_time_type modified_{};
};

}  // namespace reel
