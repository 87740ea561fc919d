#include "common/source_file.h"

#include <sys/stat.h>

namespace reel {

Status RequireRegularFile(const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return {};  // the open that follows says why
  if (S_ISDIR(file.st_mode)) return MakeError(ErrorKind::kCannotRead, path, "is a folder");
  if (!S_ISREG(file.st_mode)) {
    return MakeError(ErrorKind::kCannotRead, path, "not a regular file (a pipe, a device or a socket is not read)");
  }
  return {};
}

}  // namespace reel
