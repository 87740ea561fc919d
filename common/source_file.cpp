#include "common/source_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace reel {

Status RequireRegularFile(const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return MakeError(ErrorKind::kNotFound, path, "no such file");
    return MakeError(ErrorKind::kCannotRead, path, std::string("cannot open the file: ") + std::strerror(errno));
  }
  if (S_ISDIR(file.st_mode)) return MakeError(ErrorKind::kCannotRead, path, "is a folder");
  if (!S_ISREG(file.st_mode)) {
    return MakeError(ErrorKind::kCannotRead, path, "not a regular file (a pipe, a device or a socket is not read)");
  }
  return {};
}

}  // namespace reel
