#include "platform/mediagraph/source_format.h"

#include <system_error>

namespace reel {

std::optional<SourceFormat> SourceFormat::Of(const std::string& path, const AVInputFormat* reader) {
  if (reader == nullptr) return std::nullopt;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  const std::filesystem::file_time_type modified = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  SourceFormat format;
  format.reader_ = reader;
  format.path_ = path;
  format.size_ = size;
  format.modified_ = modified;
  return format;
}

const AVInputFormat* SourceFormat::ReaderFor(const std::string& path) const {
  if (path != path_) return nullptr;
  std::error_code error;
  if (std::filesystem::file_size(path, error) != size_ || error) return nullptr;
  if (std::filesystem::last_write_time(path, error) != modified_ || error) return nullptr;
  return reader_;
}

}  // namespace reel
