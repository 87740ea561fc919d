// Looks at a movie a program wrote: its header as stored, and whether qrxtool accepts it.
#pragma once

#include <filesystem>

#include "common/qrx_format.h"

namespace reel::test {

// The movie's header; all zero when the file is shorter than a header.
QrxHeader ReadHeader(const std::filesystem::path& moviePath);
// qrxtool verify accepts the movie.
bool Verified(const std::filesystem::path& moviePath);

}  // namespace reel::test
