// OggStream: the PCM of one Ogg Vorbis file, decoded through libvorbisfile.
//
// The bytes come from a block in memory (not owned) or from a file read as the stream plays
// (sound_source.h), as for an MP3 stream; a looping read starts again with a fresh decoder, so
// every pass sounds the same.
//
// The sound begins at granule position 0. A stream whose first audio page says that some of its
// samples lie before that (a stream cut from a longer one, or made from a source that starts at a
// negative time) has those samples left out here: libvorbis alone takes them out of the last
// packet of that page only, so they would be heard at the start and a piece of the page would be
// missing. Those first pages are decoded here directly, the samples before position 0 dropped,
// and libvorbisfile goes on from the end of them. A stream whose first page starts after 0 plays
// from its first sample, without silence before it.
//
// A seek lands on the first sample of a whole packet. Chained streams play on while each link has
// the first one's format; a link of another format ends the sound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "player/audio/sound_source.h"
#include "player/audio/sound_stream.h"

namespace reel {

class OggStream final : public SoundStream {
 public:
  OggStream();
  OggStream(const OggStream&) = delete;
  OggStream& operator=(const OggStream&) = delete;
  ~OggStream() override;

  Status OpenMemory(std::span<const uint8_t> data, const std::string& name = "") override;
  Status OpenFile(const std::string& path) override;
  void Close() override;
  std::size_t ReadPcm(std::span<int16_t> samples, bool loop) override;
  uint64_t Seek(uint64_t frame) override;

  bool IsOpen() const override;
  bool Finished() const override { return finished_; }
  const PcmFormat& Format() const override { return format_; }

  struct Decoder;  // libvorbisfile's state and the reader it pulls bytes through

 private:
  // Opens the decoder on source_ from its first byte and decodes any samples before the sound.
  Status OpenData();
  bool Restart();
  // The next piece libvorbisfile decodes, appended to pending_ as 16-bit samples: its length in
  // sample frames, or 0 at the end of the data.
  std::size_t DecodePiece();
  std::size_t TakePending(std::span<int16_t> samples);

  SoundSource source_;
  std::string name_;
  std::unique_ptr<Decoder> decoder_;
  PcmFormat format_;
  bool finished_ = false;
  int link_ = 0;
  uint64_t leadEnd_ = 0;                 // where libvorbisfile takes over from the lead-in
  bool decoderDone_ = false;             // libvorbisfile has nothing more to give
  std::vector<uint64_t> leadPacketEnds_;  // where each packet of the lead-in ends, in the sound
  std::vector<int16_t> pending_;         // decoded, not yet read
  std::size_t pendingPos_ = 0;
};

}  // namespace reel
