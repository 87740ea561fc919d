// The primary audio stream of a media file decoded whole to 16-bit PCM, with its format record.
//
// The soundtrack is read to its end, however long: nothing is cut at a buffer size. Samples are
// interleaved signed 16-bit little-endian words. By default they keep the stream's own rate and
// channel count (a stream of more than two channels is mixed down to stereo, the widest a
// companion holds); a caller that will convert the block anyway can name the rate and channel
// count it wants and get them straight from the decoder, which spares a second copy of a long
// track in memory.
//
// A caller can also name where on the file's timeline the PCM is to begin (the time of the first
// picture it shows with the sound): the sound's first decoded samples are placed by their own
// time stamp, so a track that starts later is led with silence for the gap and one that starts
// earlier loses what lies before. A gap of more than an hour either way comes from broken time
// stamps, not from a recording, and moves nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/mediagraph/source_format.h"

namespace reel {

// The fields of a WAVEFORMATEX record for plain PCM.
struct PcmFormat {
  uint16_t formatTag = 1;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 16;
};

struct DecodedSoundtrack {
  PcmFormat format;
  std::vector<uint8_t> data;  // whole sample frames
};

// Time on a file's timeline, in 100-ns units, as the media graph counts it.
inline constexpr int64_t kTimelineUnitsPerSecond = 10'000'000;

struct PcmRequest {
  uint32_t samplesPerSec = 0;  // 0: the stream's own rate
  uint16_t channels = 0;       // 0: the stream's own count (at most 2)
  // Where the PCM begins on the file's timeline (100-ns units); none: at the track's first sample,
  // wherever that lies.
  std::optional<int64_t> startAt;
};

struct SoundtrackLimits {
  std::chrono::milliseconds quietFor{10000};  // longest a read may make no progress
  // An earlier opening's verdict on the file (the media graph's), which spares this one the format
  // probe.
  std::optional<SourceFormat> format;
  // Whether the opening's stream-information pass leaves the video out where that cannot change
  // which track is read (see media_source.h); false reads it as any opening, the plain reference.
  bool soundInfoOnly = true;
};

// Called now and then with the share of the track read so far (0 to 1); returning false stops the
// read with kStopped.
using SoundtrackProgress = std::function<bool(double)>;

// The format the primary audio stream of `path` decodes to by default, without decoding it; nothing
// when the file has no audio stream.
Result<std::optional<PcmFormat>> ProbeSoundtrack(const std::string& path, const SoundtrackLimits& limits = {});

// Reads the primary audio stream of `path` whole. Nothing when the file has no audio stream; an
// error when the file cannot be opened, the stream has no decoder, or the PCM would exceed 4 GiB
// (the length fields of the audio records are 32-bit). Packets that do not decode are passed over.
Result<std::optional<DecodedSoundtrack>> ReadSoundtrack(const std::string& path, const PcmRequest& request = {},
                                                    const SoundtrackProgress& progress = {},
                                                    const SoundtrackLimits& limits = {});

// The same track read piece by piece, so that only a little of it is in memory at a time: joined,
// the pieces are exactly what ReadSoundtrack gives for the same request.
class SoundtrackPieces {
 public:
  // Nothing when the file has no audio stream; the errors of ReadSoundtrack's start.
  static Result<std::optional<SoundtrackPieces>> Open(const std::string& path, const PcmRequest& request = {},
                                                      const SoundtrackLimits& limits = {});
  // The request chosen from the format the track decodes to by default (ProbeSoundtrack's), so
  // that one opening of the file serves both the probe and the reading.
  using RequestChoice = std::function<PcmRequest(const PcmFormat& byDefault)>;
  static Result<std::optional<SoundtrackPieces>> Open(const std::string& path, const RequestChoice& choose,
                                                      const SoundtrackLimits& limits = {});

  SoundtrackPieces(SoundtrackPieces&&) noexcept;
  SoundtrackPieces& operator=(SoundtrackPieces&&) noexcept;
  ~SoundtrackPieces();

  const PcmFormat& Format() const;

  // Appends the PCM of the next packet to `out` (possibly nothing). False once the track has
  // ended: that call appends the last samples. An error as ReadSoundtrack reports it.
  Result<bool> Next(std::vector<uint8_t>& out);

 private:
  struct State;
  explicit SoundtrackPieces(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace reel
