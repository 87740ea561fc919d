// One media file opened with libavformat, for the video graph and the soundtrack reader alike.
// Internal to platform/mediagraph.
//
// Opening probes the file's first bytes before anything else, so that a file no demuxer
// recognises ("not a media file") is told apart from a recognised file that cannot be opened
// (truncated or broken). Every blocking read runs under a watchdog: libavformat asks the interrupt
// callback between reads, and the callback stops the read once no packet has arrived for the
// watchdog's time, so that no read of a damaged or stalled file can hang its caller.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <chrono>
#include <memory>
#include <string>

#include "common/result.h"

namespace reel {

class MediaSource {
 public:
  // Opens `path` and reads its stream information. `quietFor` bounds every read: a read that
  // makes no progress for that long ends with kTimedOut.
  static Result<std::unique_ptr<MediaSource>> Open(const std::string& path, std::chrono::milliseconds quietFor);

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

  // The next packet of stream `stream` (others are dropped) into `packet`: true with a packet,
  // false at the end of the file. A read error other than the end, or a stalled read, is an error.
  Result<bool> NextPacket(int stream, AVPacket* packet);

  // Starts the watchdog's quiet time afresh (done on every packet that arrives).
  void Feed() { lastProgress_ = std::chrono::steady_clock::now(); }
  bool Starved() const { return std::chrono::steady_clock::now() - lastProgress_ > quietFor_; }

 private:
  static int Interrupt(void* opaque);

  std::string path_;
  std::chrono::milliseconds quietFor_;
  std::chrono::steady_clock::time_point lastProgress_;
  AVFormatContext* context_ = nullptr;
};

// The text of a libav error code, for messages.
std::string AvErrorText(int code);

}  // namespace reel
