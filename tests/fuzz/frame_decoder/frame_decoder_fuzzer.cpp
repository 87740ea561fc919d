// Arbitrary bytes as a coded frame: into a decoder that owns a screen-sized picture buffer and has
// decoded earlier frames, and into a fresh decoder that allocates its own picture. Either may
// refuse the frame; neither may read or write outside its buffers. A refused frame must leave the
// picture as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "player/video/frame_decoder.h"
#include "player/video/frame_entropy_decoder.h"

namespace {

constexpr std::size_t kScreenPixels = 320 * 240;

struct ScreenDecoder {
  std::vector<uint16_t> screen = std::vector<uint16_t>(kScreenPixels);
  reel::FrameDecoder decoder;
  ScreenDecoder() { decoder.SetPictureBuffer(screen); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> frame(data, size);

  static ScreenDecoder player;  // keeps its tables and picture from one input to the next
  const std::vector<uint16_t> before = player.screen;
  if (!player.decoder.DecodeFrame(frame) && player.screen != before) std::abort();

  reel::FrameDecoder fresh;
  if (fresh.DecodeFrame(frame)) {
    const auto pixels = fresh.Pixels();
    if (pixels.size() != std::size_t{fresh.PaddedWidth()} * fresh.PaddedHeight()) std::abort();
  }

  // The two symbol decoders must agree on every input.
  const auto fast = reel::DecodeFrameCoefficients(frame, reel::SymbolDecoding::kLookupTable);
  const auto plain = reel::DecodeFrameCoefficients(frame, reel::SymbolDecoding::kTreeWalk);
  if (fast.has_value() != plain.has_value()) std::abort();
  if (fast && fast->blocks != plain->blocks) std::abort();
  return 0;
}
