// The audio compression manager as the converter uses it: suggest a PCM format for a source, and
// convert one whole buffer from one format to another.
//
// A conversion turns PCM of 8 or 16 bits, 1 or 2 channels and any rate, or a compressed format
// that the media libraries decode (chosen by the format tag: MPEG audio layers 1-3, IMA and MS
// ADPCM, A-law, mu-law, IEEE float, 24- and 32-bit PCM, AC-3, and any other tag the libraries
// know a decoder for, such as AAC), into PCM of 8 or 16 bits with 1 or 2 channels at any rate. Changing the rate resamples; two channels become one by averaging, one
// becomes two by copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/acm/wave_format.h"

namespace reel {

// Flags of FormatSuggest and AcmStream::Open, with the values the platform gives them.
inline constexpr uint32_t kAcmFormatSuggestTag = 0x00010000;     // only the format tag is asked for
inline constexpr uint32_t kAcmStreamOpenNonRealtime = 0x00000004;

// Results of FormatSuggest.
inline constexpr uint32_t kAcmOk = 0;
inline constexpr uint32_t kAcmNoConversion = 512;  // no codec turns the source into the asked format
inline constexpr uint32_t kAcmBadFlags = 10;

// Fills `destination` with the format `source` converts to. With kAcmFormatSuggestTag the
// destination's tag must already be PCM, and the rest becomes 16 bits at the source's rate and
// channel count. Returns kAcmOk, or an error code when no conversion from the source exists.
uint32_t AcmFormatSuggest(const AudioFormat& source, WAVEFORMATEX& destination, uint32_t flags);

// One conversion stream from a source format to a PCM destination format.
class AcmStream {
 public:
  // Opens the stream, or nothing when the pair of formats cannot be converted.
  static std::optional<AcmStream> Open(const AudioFormat& source, const WAVEFORMATEX& destination,
                                       uint32_t flags);

  AcmStream(AcmStream&&) noexcept;
  AcmStream& operator=(AcmStream&&) noexcept;
  ~AcmStream();

  // Forgets any state left from an earlier conversion.
  void Reset();

  // The number of destination bytes the conversion of `sourceLength` bytes is expected to give.
  std::size_t DestinationSize(std::size_t sourceLength) const;

  // Converts the whole `source` into `destination` from its start and returns the number of bytes
  // produced. When the output would outgrow the destination, the destination grows: nothing is
  // dropped. Bytes past the returned count keep their contents.
  std::size_t Convert(std::span<const uint8_t> source, std::vector<uint8_t>& destination);

  // The same conversion over a source that arrives in pieces: Begin, Feed each piece in order,
  // Finish. The bytes handed to `output` along the way, joined, are exactly what Convert gives for
  // the pieces joined, wherever the pieces are cut; at most a little over a megabyte of source is
  // held between calls (a source without frame headers or blocks, such as raw AAC frames, is held
  // whole, as its decoder takes it in one piece). Finish returns the number of bytes produced.
  using Output = std::function<void(std::span<const uint8_t>)>;
  void Begin(Output output);
  void Feed(std::span<const uint8_t> piece);
  std::size_t Finish();
  // Finish a part at a time: the frames a parser still holds at the end (a whole track shorter
  // than the parser's step, say) are handed on in parts of about `bytes` rather than all at
  // once. False while more is left; the bytes are Finish's, cut at other places.
  bool FinishPart(std::size_t bytes);

 private:
  struct State;
  explicit AcmStream(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace reel
