// A soundtrack that arrives in pieces, so that a long one is never held whole: the source's raw
// data packet by packet, or PCM converted as it comes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/result.h"
#include "converter/audio/sound_format_conversion.h"
#include "platform/acm/wave_format.h"

namespace reel {

class SoundPieces {
 public:
  virtual ~SoundPieces() = default;
  // Appends the next bytes to `out` (possibly none). False once the sound has ended; that call
  // appends the last bytes. An error (a source that cannot be read, a stop) ends the sound.
  virtual Result<bool> Next(std::vector<uint8_t>& out) = 0;
  // An error (kStopped) once the work reading these pieces was asked to stop. Pieces made from
  // other pieces ask their source; the bytes kept from a counting pass ask the source they came
  // from, so a replay from memory stops as soon as the source would have.
  virtual Status Interruption() const { return {}; }
};

// A source's pieces, read until `stopped` says the work is to stop (no check: never stopped).
class StoppableSource : public SoundPieces {
 public:
  StoppableSource(std::function<bool()> stopped, std::string path)
      : stopped_(std::move(stopped)), path_(std::move(path)) {}
  Status Interruption() const override;

 protected:
  const std::string& Path() const { return path_; }

 private:
  std::function<bool()> stopped_;
  std::string path_;
};

// Opens the soundtrack afresh, from its start: an encoder may read it twice.
using SoundPiecesOpener = std::function<Result<std::unique_ptr<SoundPieces>>()>;

// Bytes made by an encoder, handed on as they come; an error stops the encoding.
using EncodedOutput = std::function<Status(std::span<const uint8_t>)>;

// `source`'s bytes, in `from`'s format, converted to the PCM format `to` as they come: joined,
// the same bytes as AcmConvertBuffer(variant, from, to, the whole source) gives. Nothing when the
// pair of formats cannot be converted.
std::unique_ptr<SoundPieces> ConvertPieces(AcmVariant variant, const AudioFormat& from, const WAVEFORMATEX& to,
                                           std::unique_ptr<SoundPieces> source);

// `source`'s PCM led with `samples` sample frames of silence, `blockAlign` bytes each. The silence
// comes in pieces of its own, so a long gap is never held whole.
std::unique_ptr<SoundPieces> LeadPieces(std::unique_ptr<SoundPieces> source, uint16_t blockAlign, uint64_t samples);

// The pieces of a block held in memory, in slices of `sliceBytes`.
std::unique_ptr<SoundPieces> MemoryPieces(std::span<const uint8_t> block, std::size_t sliceBytes);

// Pulls every piece through and returns the number of bytes, or the first error.
Result<uint64_t> CountPieces(SoundPieces& pieces);

// Bytes of a soundtrack kept from its counting pass: 64 MiB, about six minutes of 44100 Hz stereo.
inline constexpr std::size_t kKeptSoundBudget = std::size_t{64} << 20;

// Kept bytes in the order they came, in blocks of up to about a megabyte each: a block once
// filled is never moved, so keeping a track copies each byte once.
using KeptBlocks = std::vector<std::vector<uint8_t>>;

// A soundtrack an encoder reads twice: once for its length, once to encode it. The counting pass
// keeps the bytes it pulls while they fit in `budget` and the second pass is fed from them, so
// the track is decoded once; a longer one is dropped as it passes the budget and opened afresh.
class CountedSound {
 public:
  CountedSound(SoundPiecesOpener open, std::size_t budget);

  // Opens the track and pulls every piece through: the number of bytes, or the first error.
  Result<uint64_t> Count();
  // The track from its start again: the kept bytes (handed over, so call it once), or the track
  // opened afresh when they did not fit.
  Result<std::unique_ptr<SoundPieces>> Replay();
  bool Kept() const { return kept_.has_value(); }

 private:
  SoundPiecesOpener open_;
  std::size_t budget_;
  std::optional<KeptBlocks> kept_;
  std::unique_ptr<SoundPieces> counted_;  // the spent pieces kept_ came from
};

}  // namespace reel
