// A QRX movie held in memory for inspection: its header, its index and its bytes, and the checks
// that tell whether it is sound.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/qrx_format.h"
#include "common/result.h"

namespace reel {

class FrameDecoder;

struct MovieFile {
  QrxHeader header;
  std::vector<QrxIndexEntry> index;
  std::vector<uint8_t> bytes;  // the whole file

  // The bytes of frame k, or none when its entry points outside the file.
  std::optional<std::span<const uint8_t>> FrameBytes(std::size_t k) const;
};

// Reads the header and index of a movie already in memory. A kDamaged error (its message names no
// file: the bytes have none) when they are shorter than the header or the index runs past their end.
Result<MovieFile> ParseMovie(std::vector<uint8_t> bytes);

// Reads a whole file; a kNotFound or kCannotRead error naming it when it cannot be read.
Result<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

// Reads and parses a movie file for a command; on failure prints "qrxtool: PATH: reason" and
// returns none.
std::optional<MovieFile> LoadMovieOrReport(const std::string& path);

// Decodes frame k on `decoder`. A frame without its own quantisation tables takes them from the
// last frame before it that has them, as the player does when it plays the movie through. An
// error when frame k lies outside the file or does not decode.
Status DecodeMovieFrame(const MovieFile& movie, std::size_t k, FrameDecoder& decoder);

// Every invariant of the container's header and index, without looking into the frames: one line
// per problem, empty when they are sound.
std::vector<std::string> VerifyContainer(const MovieFile& movie);

// VerifyContainer, every frame header, and a decode of every frame: one line per problem, empty
// when the movie is sound.
std::vector<std::string> VerifyMovie(const MovieFile& movie);

// The problems of one coded frame on its own (its header, its parts and a decode), each line
// starting with `label`. `expectedWidth`/`expectedHeight` of 0 skip the size comparison.
std::vector<std::string> VerifyFrame(std::span<const uint8_t> frame, const std::string& label,
                                     uint32_t expectedWidth, uint32_t expectedHeight);

}  // namespace reel
