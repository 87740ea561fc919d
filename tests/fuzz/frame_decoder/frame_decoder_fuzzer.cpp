// Arbitrary bytes as a coded frame: into a decoder that owns a screen-sized picture buffer and has
// decoded earlier frames, and into a fresh decoder that allocates its own picture. Either may
// refuse the frame; neither may read or write outside its buffers. A refused frame must leave the
// picture as it was, and the two symbol decoders must agree on every frame.
//
// Picture sizes: a frame header may declare up to 65535 x 65535 pixels, and a decoder works in
// proportion to the declared size, but no movie holds a picture larger than 640 x 480 (the
// converter's larger size). So the decoders get a copy of the frame whose declared width and height
// are folded into 1..640 and 1..480 (a size within the range stays as it is); the frame as it came
// still goes to the screen decoder, which refuses anything larger than its buffer before any work,
// and, when it declares more than the decoders' working limit, to the fresh decoder and the
// coefficient reader, which refuse it likewise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "player/video/frame_decoder.h"
#include "player/video/frame_entropy_decoder.h"

namespace {

constexpr std::size_t kScreenPixels = 320 * 240;
constexpr uint32_t kLargestWidth = 640;
constexpr uint32_t kLargestHeight = 480;
constexpr std::size_t kWidthOffset = 16;  // the header's 16-bit width, then the height
constexpr std::size_t kHeightOffset = 18;

struct ScreenDecoder {
  std::vector<uint16_t> screen = std::vector<uint16_t>(kScreenPixels);
  std::vector<uint16_t> before = std::vector<uint16_t>(kScreenPixels);
  reel::FrameDecoder decoder;
  ScreenDecoder() { decoder.SetPictureBuffer(screen); }

  void Decode(std::span<const uint8_t> frame) {
    before = screen;  // same size: no allocation
    if (!decoder.DecodeFrame(frame) && screen != before) std::abort();
  }
};

uint16_t Fold(uint16_t size, uint32_t largest) {
  return size == 0 ? size : static_cast<uint16_t>(1 + (size - 1u) % largest);
}

void DecodeFresh(std::span<const uint8_t> frame) {
  reel::FrameDecoder fresh;
  if (fresh.DecodeFrame(frame)) {
    const auto pixels = fresh.Pixels();
    if (pixels.size() != std::size_t{fresh.PaddedWidth()} * fresh.PaddedHeight()) std::abort();
  }
  const auto fast = reel::DecodeFrameCoefficients(frame, reel::SymbolDecoding::kLookupTable);
  const auto plain = reel::DecodeFrameCoefficients(frame, reel::SymbolDecoding::kTreeWalk);
  if (fast.has_value() != plain.has_value()) std::abort();
  if (fast && fast->blocks != plain->blocks) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static ScreenDecoder player;  // keeps its tables and picture from one input to the next
  const std::span<const uint8_t> frame(data, size);
  if (size < kHeightOffset + 2) {
    player.Decode(frame);
    DecodeFresh(frame);
    return 0;
  }

  const uint16_t width = reel::LoadU16(frame.subspan<kWidthOffset, 2>());
  const uint16_t height = reel::LoadU16(frame.subspan<kHeightOffset, 2>());
  const uint16_t foldedWidth = Fold(width, kLargestWidth);
  const uint16_t foldedHeight = Fold(height, kLargestHeight);
  std::vector<uint8_t> folded(data, data + size);  // exactly the frame's size
  reel::StoreU16(std::span(folded).subspan<kWidthOffset, 2>(), foldedWidth);
  reel::StoreU16(std::span(folded).subspan<kHeightOffset, 2>(), foldedHeight);

  if (foldedWidth != width || foldedHeight != height) {
    player.Decode(frame);
    if (reel::FrameMacroblocks(width, height) > reel::kMaxDecodedMacroblocks) DecodeFresh(frame);
  }
  player.Decode(folded);
  DecodeFresh(folded);
  return 0;
}
