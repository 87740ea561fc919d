// Arbitrary bytes as a movie file: reading the header and index, and the full check (every frame
// header and a decode of every frame), must never crash or read outside the bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/qrxtool/movie_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const auto movie = reel::ParseMovie(std::vector<uint8_t>(data, data + size));
  if (movie) {
    (void)reel::VerifyMovie(*movie);
    for (std::size_t k = 0; k < movie->index.size(); ++k) (void)movie->FrameBytes(k);
  }
  return 0;
}
