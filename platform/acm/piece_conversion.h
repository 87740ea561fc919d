// The whole-buffer audio conversion over a source that arrives in pieces (AcmStream::Begin, Feed,
// Finish).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/acm/acm_stream.h"
#include "platform/acm/codec_choice.h"
#include "platform/acm/decoding.h"
#include "platform/acm/resampling.h"

namespace reel::acm {

// Room for a piece past the bytes a conversion step needs, in what is held back.
inline constexpr std::size_t kHeldPieceRoom = std::size_t{1} << 18;

// It makes exactly the calls the whole-buffer conversion makes, in the same order and over the same
// bytes (PCM in chunks of kPcmChunkFrames from the start, one block per packet, the parser's steps
// of kParseStep with real bytes past each step), so the output is the same; it holds back only
// what the next call needs.
class PieceConverter {
 public:
  // `codec` AV_CODEC_ID_NONE: the source is plain PCM.
  PieceConverter(const AudioFormat& source, const WAVEFORMATEX& destination, AVCodecID codec, AcmStream::Output output);

  void Feed(std::span<const uint8_t> piece);
  // Converts what is held back, drains the decoder and the resampler; returns the bytes produced
  // in all.
  std::size_t Finish();
  // The same end a part at a time, so that a track held back whole is not handed on in one piece:
  // returns false once about `bytes` more have been handed on and more is left, true when the
  // conversion is complete. The calls to the libraries are Finish's, in the same order.
  bool FinishPart(std::size_t bytes);

 private:
  // How far the end has got: the parser's last steps are the only part taken in pieces.
  enum class Ending { kNotBegun, kParsing, kDraining, kDone };

  std::span<const uint8_t> Pending() const;
  void ReserveHeld();
  void Compact();
  void FeedPcm(bool last);
  void FeedBlocks(bool last);
  void FeedParser();
  void BeginEnding();
  bool ParseLastStep();
  void Drain();
  bool ParseOnce(std::size_t step);
  int ParseCall(const uint8_t* data, std::size_t size);

  WAVEFORMATEX source_;
  AVCodecID codec_;
  AcmStream::Output output_;
  std::vector<uint8_t> scratch_;
  OutputSink sink_{scratch_};
  Resampler resampler_;
  CodecContextPtr context_;
  std::optional<DecodeLoop> loop_;
  ParserPtr parser_;
  Framing framing_ = Framing::kWhole;
  std::vector<uint8_t> pending_;
  std::size_t start_ = 0;
  bool pcmFailed_ = false;
  int lastFrameSize_ = 0;
  Ending ending_ = Ending::kNotBegun;
  std::size_t parseLeft_ = 0;  // bytes the parser has still to take at the end
  bool parseDraining_ = false;
};

}  // namespace reel::acm
