// The AVI demuxer behind the layer: one open libavformat context, forced to the AVI format so
// that nothing else is ever probed. Internal to platform/avifile.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <memory>
#include <string>

#include "common/result.h"

namespace reel {

class AviDemuxer {
 public:
  // Opens and reads the headers and index. A file that is not an AVI is refused with
  // ErrorKind::kNotThisFormat.
  static Result<std::unique_ptr<AviDemuxer>> Open(const std::string& path);

  // Takes over an opened context.
  explicit AviDemuxer(AVFormatContext* context) : context_(context) {}

  ~AviDemuxer();
  AviDemuxer(const AviDemuxer&) = delete;
  AviDemuxer& operator=(const AviDemuxer&) = delete;

  AVFormatContext* Context() const { return context_; }
  AVStream* Stream(unsigned index) const { return context_->streams[index]; }
  unsigned StreamCount() const { return context_->nb_streams; }

  // Reads the next packet of `stream` (others are skipped) into `packet`; false at the end or on a
  // read error.
  bool NextPacket(unsigned stream, AVPacket* packet);

  // Back to the first packet of every stream.
  bool Rewind();

 private:
  AVFormatContext* context_;
};

}  // namespace reel
