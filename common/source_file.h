// What a source must be before anything reads it: a regular file. A pipe, a device or a socket
// would block the first read (or the open itself) until something writes to it, perhaps forever,
// so they are refused up front, as folders are.
#pragma once

#include <string>

#include "common/result.h"

namespace reel {

// kCannotRead for a folder or anything else that is not a regular file (a symbolic link counts as
// what it points to); success for a regular file, and for a name that cannot be looked at (the
// open that follows reports that).
Status RequireRegularFile(const std::string& path);

}  // namespace reel
