// The decoding stage of the whole-buffer audio conversion: packets of the soundtrack go to the
// decoder, cut as its framing says (codec_choice.h), and every decoded frame goes on to the
// resampler. A packet the decoder rejects is skipped, as a damaged block would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/acm/codec_choice.h"
#include "platform/acm/resampling.h"

namespace reel::acm {

// Bytes the parser is given per call.
inline constexpr std::size_t kParseStep = 1 << 20;

// Decodes packets and hands every decoded frame to the resampler.
class DecodeLoop {
 public:
  DecodeLoop(AVCodecContext* context, Resampler& resampler, OutputSink& sink);

  bool Ready() const { return packet_ && frame_; }

  // Sends one packet; null data at the end drains the decoder.
  void Send(const uint8_t* data, std::size_t size);

 private:
  void Receive();

  AVCodecContext* context_;
  Resampler& resampler_;
  OutputSink& sink_;
  PacketPtr packet_;
  FramePtr frame_;
};

// The whole soundtrack in the parser's steps of kParseStep, then the parser drained.
void ParseAndDecode(AVCodecContext* context, std::span<const uint8_t> data, DecodeLoop& loop);

// One packet holding the whole soundtrack, on a padded copy; the decoder takes one frame after
// another from it.
void DecodeWhole(std::span<const uint8_t> data, DecodeLoop& loop);

// The whole soundtrack in packets of PacketBytes.
void ChunkAndDecode(const WAVEFORMATEX& source, AVCodecID codec, std::span<const uint8_t> data, DecodeLoop& loop);

}  // namespace reel::acm
