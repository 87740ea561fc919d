// One media file opened with libavformat, for the video graph and the soundtrack reader alike.
// Internal to platform/mediagraph.
//
// Opening probes the file's first bytes before anything else, so that a file no demuxer
// recognises ("not a media file") is told apart from a recognised file that cannot be opened
// (truncated or broken); an opening handed an earlier opening's verdict on the same file skips the
// probe. Every blocking read runs under a watchdog: libavformat asks the interrupt
// callback between reads, and the callback stops the read once no packet has arrived for the
// watchdog's time, so that no read of a damaged or stalled file can hang its caller.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "common/result.h"
#include "platform/mediagraph/source_format.h"

namespace reel {

// What an opening reads the stream information for. The stream-information pass decodes the first
// pictures of each video stream (up to seven for H.264), which an opening for the sound alone need
// not pay for.
enum class StreamsWanted {
  kAll,
  // The sound: when the file's header names its streams and holds a single audio stream, the
  // video streams are left out of the pass. Every other file is read as with kAll, so that the
  // choice among several audio streams, which weighs what the pass saw of each, stays the same.
  kSound,
};

class MediaSource {
 public:
  // Opens `path` and reads its stream information. `quietFor` bounds every read: a read that
  // makes no progress for that long ends with kTimedOut. With `known`, an earlier opening's
  // verdict on the same file, the file is opened with that reader without probing it again; a file
  // that has changed since, or no longer opens so, is probed as any other.
  static Result<std::unique_ptr<MediaSource>> Open(const std::string& path, std::chrono::milliseconds quietFor,
                                                   const std::optional<SourceFormat>& known = std::nullopt,
                                                   StreamsWanted wanted = StreamsWanted::kAll);

  // Only Open makes one.
  class Key {
    friend class MediaSource;
    Key() = default;
  };
  MediaSource(Key, std::string path, std::chrono::milliseconds quietFor);
  ~MediaSource();
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  AVFormatContext* Context() const { return context_; }
  AVStream* Stream(int index) const { return context_->streams[index]; }
  const std::string& Path() const { return path_; }
  // The reader this opening took, for later openings of the same file.
  const std::optional<SourceFormat>& Format() const { return format_; }

  // The next packet of stream `stream` (others are dropped) into `packet`: true with a packet,
  // false at the end of the file. A read error other than the end, or a stalled read, is an error.
  Result<bool> NextPacket(int stream, AVPacket* packet);

  // Starts the watchdog's quiet time afresh (done on every packet that arrives).
  void Feed() { lastProgress_ = std::chrono::steady_clock::now(); }
  bool Starved() const { return std::chrono::steady_clock::now() - lastProgress_ > quietFor_; }

 private:
  static Result<std::unique_ptr<MediaSource>> OpenWith(const std::string& path, std::chrono::milliseconds quietFor,
                                                       const AVInputFormat* reader, StreamsWanted wanted);
  static int Interrupt(void* opaque);

  std::string path_;
  std::chrono::milliseconds quietFor_;
  std::chrono::steady_clock::time_point lastProgress_;
  AVFormatContext* context_ = nullptr;
  std::optional<SourceFormat> format_;
};

// The text of a libav error code, for messages.
std::string AvErrorText(int code);

}  // namespace reel
