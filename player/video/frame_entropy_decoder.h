// The entropy stage of the frame decoder: from a frame's two bit streams to the quantised
// coefficients of every block.
//
// The DC stream is read first, all of it: one chain of differences runs through every block of the
// frame in stream order, across components, and is added with 16-bit wrap-around. Then the AC
// stream fills each block in zig-zag order, symbol by symbol in the frame's alphabet
// (common/frame_alphabet.h): the end of block, a run of 15 ... 30 zeros, or a shorter run and one
// value. The stage refuses a frame whose trees cannot decode, whose streams run out, or
// whose AC run would place a coefficient past the last position; nothing is written outside the
// blocks it is given.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/qrx_format.h"
#include "player/video/frame_layout.h"

namespace reel {

// One block of 64 signed 16-bit values in natural (row-major) order: quantised coefficients after
// the entropy stage, samples after the inverse transform.
using DecodedBlock = std::array<int16_t, 64>;

enum class SymbolDecoding {
  kLookupTable,   // the fast decode: a symbol and its value bits in one table look-up
  kSymbolLookup,  // the symbol by table look-up, then its value bits
  kTreeWalk,      // the plain bit-by-bit walk and then the value bits, kept as the reference
};

// Decodes the coefficients of `blocks.size()` blocks (6 per macroblock of the frame) from the
// streams of `layout`. Every block is cleared before its values are placed. False when the frame
// is refused; the blocks then hold partial results, and those the AC stream did not reach hold
// whatever they held before.
bool DecodeFrameBlocks(const FrameLayout& layout, std::span<DecodedBlock> blocks,
                       SymbolDecoding decoding = SymbolDecoding::kLookupTable);

// The same, also noting for each block the coefficients that were placed (bit k for natural
// position k, DC always set); `placed` has one entry per block. Every other coefficient is 0.
bool DecodeFrameBlocks(const FrameLayout& layout, std::span<DecodedBlock> blocks,
                       std::span<uint64_t> placed,
                       SymbolDecoding decoding = SymbolDecoding::kLookupTable);

// The quantised coefficients of a whole frame (absolute DC values after the chain) in stream order,
// and the frame's quantisation tables when it carries them.
struct FrameCoefficients {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<DecodedBlock> blocks;
  bool hasTables = false;
  std::array<uint8_t, 64> lumaQuant{};  // natural order
  std::array<uint8_t, 64> chromaQuant{};
};

// None when the frame is refused (see ReadFrameLayout and DecodeFrameBlocks) or holds more than
// kMaxDecodedMacroblocks macroblocks.
std::optional<FrameCoefficients> DecodeFrameCoefficients(
    std::span<const uint8_t> frame, SymbolDecoding decoding = SymbolDecoding::kLookupTable);

// Macroblocks of a picture, rounded up to whole macroblocks in each direction.
inline uint64_t FrameMacroblocks(uint32_t width, uint32_t height) {
  return uint64_t{PaddedSize(width) / 16} * (PaddedSize(height) / 16);
}

}  // namespace reel
