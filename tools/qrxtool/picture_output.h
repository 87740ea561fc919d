// Turning a decoded 5-6-5 picture into files a person can look at or a program can compare.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace reel {

class FrameDecoder;

// The picture's width x height pixels without the padding, three bytes each (red, green, blue),
// top row first; each 5-6-5 pixel widened by bit replication: r8 = r5 << 3 | r5 >> 2,
// g8 = g6 << 2 | g6 >> 4, b8 likewise.
std::vector<uint8_t> RgbOfPicture(const FrameDecoder& decoder);

// A binary PPM (P6, maxval 255) of RgbOfPicture.
std::vector<uint8_t> PpmOfPicture(const FrameDecoder& decoder);

// The padded picture's pixels as 16-bit little-endian words, top row first.
std::vector<uint8_t> Raw565OfPicture(const FrameDecoder& decoder);

// Writes (replacing) a whole file. False, with the reason in `error`, on failure.
Status WriteBytesToFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace reel
