// AVI files as the conversion job reads them: the streams in file order with their type, time
// scale and rate, length and format block; a whole stream's raw data; and the pictures of a video
// stream, one source frame at a time.
//
// Only AVI files are opened: anything else is refused at Open (ErrorKind::kNotThisFormat), whatever
// the media libraries could make of it. The file opened to read the stream headers serves the
// first frame reader too, so a job that probes and reads one video stream opens the file once for
// both; later frame readers and whole-stream reads open it afresh, so reading one stream never
// disturbs another.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/avifile/avi_frame_reader.h"

namespace reel {

constexpr uint32_t MakeFourCc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

inline constexpr uint32_t kStreamTypeVideo = MakeFourCc('v', 'i', 'd', 's');
inline constexpr uint32_t kStreamTypeAudio = MakeFourCc('a', 'u', 'd', 's');
inline constexpr uint32_t kStreamTypeText = MakeFourCc('t', 'x', 't', 's');
inline constexpr uint32_t kStreamTypeOther = MakeFourCc('o', 't', 'h', 'r');

// Size of the info header that opens every packed DIB and every video format block.
inline constexpr uint32_t kBitmapInfoHeaderSize = 40;

// The stream header fields the job uses. The rate of a stream is rate / scale units per second:
// frames for video, blocks for audio.
struct AviStreamInfo {
  uint32_t fccType = 0;
  uint32_t scale = 0;
  uint32_t rate = 0;
  uint32_t length = 0;  // in frames (video) or blocks (audio)
  // Where the stream begins on the file's timeline, in the same units (dwStart): its first frame
  // or block is presented start × scale / rate seconds after the file's time 0.
  uint32_t start = 0;
};

class AviDemuxer;

// One stream's raw data packet by packet, from its first block, on a reader of its own: joined,
// the packets are what AviFile::ReadWholeStream gives, but only one is held at a time.
class AviStreamPieces {
 public:
  AviStreamPieces(AviStreamPieces&&) noexcept;
  AviStreamPieces& operator=(AviStreamPieces&&) noexcept;
  ~AviStreamPieces();

  // The next packet's bytes, valid until the next call; nothing at the end of the stream.
  std::optional<std::span<const uint8_t>> Next();

 private:
  friend class AviFile;
  struct State;
  explicit AviStreamPieces(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class AviFile {
 public:
  // Opens an AVI file: an error of kind kNotThisFormat when it is not an AVI, kCannotRead when it
  // cannot be read.
  static Result<AviFile> Open(const std::string& path);

  AviFile(AviFile&&) noexcept;
  AviFile& operator=(AviFile&&) noexcept;
  ~AviFile();

  const std::string& Path() const { return path_; }
  uint32_t StreamCount() const;

  AviStreamInfo StreamInfo(uint32_t stream) const;

  // The stream's format block: a 40-byte BITMAPINFOHEADER for video; for audio the packed
  // WAVEFORMATEX (18 bytes) followed by its codec data. Empty for other types.
  std::vector<uint8_t> ReadFormat(uint32_t stream) const;

  // The whole stream's raw data from its first block, or nothing when it cannot be read (or would
  // be larger than kMaxStreamBytes).
  std::optional<std::vector<uint8_t>> ReadWholeStream(uint32_t stream) const;
  // The same data in pieces (no limit on its length), or nothing when it cannot be read. Safe to
  // call while this file's frame reader is in use on another thread.
  std::optional<AviStreamPieces> ReadStreamPieces(uint32_t stream) const;

  // Frame reading on a video stream (see AviFrameReader), an error of kind kUnsupported when the
  // stream is not video or has no decoder. The first reader takes over this file's own open
  // demuxer; read the stream headers and format blocks before asking for it.
  Result<AviFrameReader> OpenFrameReader(uint32_t stream, DecoderThreads threads = DecoderThreads::kAuto);

  static constexpr std::size_t kMaxStreamBytes = std::size_t{1} << 31;

 private:
  AviFile(std::string path, std::shared_ptr<AviDemuxer> demuxer);
  std::string path_;
  std::shared_ptr<AviDemuxer> demuxer_;
  bool demuxerLent_ = false;
};

}  // namespace reel
