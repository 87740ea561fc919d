// Frames of a movie as baseline JPEGs, without loss: each frame's quantised coefficients and
// quantisation tables, read from its bit streams by the player's decoder, are entropy-coded anew
// as a JPEG. Decoding that JPEG gives the frame's picture to within the rounding of the inverse
// transforms; reading its coefficients back gives exactly the frame's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"
#include "tools/qrxtool/movie_file.h"

namespace reel {

class FrameJpegWriter {
 public:
  // Takes the tables of the last frame before `first` that carries them, as a player that played
  // the movie up to `first` would hold them.
  void StartAt(const MovieFile& movie, std::size_t first);

  // The frame as a JPEG. A frame without its own tables uses the last ones given; a kDamaged
  // error (its message names no file) when the frame does not decode, has no tables to use, is
  // not `width` x `height` (when those are not 0), or cannot be a baseline JPEG.
  Result<std::vector<uint8_t>> Write(std::span<const uint8_t> frame, uint32_t width = 0, uint32_t height = 0);

 private:
  bool hasTables_ = false;
  std::array<uint8_t, 64> lumaQuant_{};
  std::array<uint8_t, 64> chromaQuant_{};
};

}  // namespace reel
