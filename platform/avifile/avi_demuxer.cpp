#include "platform/avifile/avi_demuxer.h"

extern "C" {
#include <libavutil/log.h>
}

#include <fstream>

#include "common/source_file.h"

namespace reel {
namespace {

// An AVI is a RIFF file of form type "AVI ".
bool HasAviSignature(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char header[12] = {};
  if (!file.read(header, sizeof header)) return false;
  return std::string(header, 4) == "RIFF" && std::string(header + 8, 4) == "AVI ";
}

}  // namespace

Result<std::unique_ptr<AviDemuxer>> AviDemuxer::Open(const std::string& path) {
  // The converter reports its own errors; the libraries' chatter would only interleave with them.
  av_log_set_level(AV_LOG_QUIET);
  if (Status kind = RequireRegularFile(path); !kind) return kind.error();
  std::ifstream probe(path, std::ios::binary);
  if (!probe) {
    return MakeError(ErrorKind::kCannotRead, path, "cannot open the file");
  }
  probe.close();
  if (!HasAviSignature(path)) {
    return MakeError(ErrorKind::kNotThisFormat, path, "not an AVI file");
  }
  const AVInputFormat* format = av_find_input_format("avi");
  if (format == nullptr) {
    return MakeError(ErrorKind::kUnsupported, path, "no AVI reader in this build");
  }
  AVFormatContext* context = nullptr;
  if (avformat_open_input(&context, path.c_str(), format, nullptr) < 0) {
    return MakeError(ErrorKind::kNotThisFormat, path, "not an AVI file");
  }
  // The stream headers say all the job needs; no frames are decoded to guess more.
  return std::make_unique<AviDemuxer>(context);
}

AviDemuxer::~AviDemuxer() { avformat_close_input(&context_); }

bool AviDemuxer::NextPacket(unsigned stream, AVPacket* packet) {
  while (true) {
    av_packet_unref(packet);
    if (av_read_frame(context_, packet) < 0) return false;
    if (packet->stream_index == static_cast<int>(stream)) return true;
  }
}

bool AviDemuxer::Rewind() {
  for (unsigned i = 0; i < context_->nb_streams; ++i) {
    if (av_seek_frame(context_, static_cast<int>(i), 0, AVSEEK_FLAG_BACKWARD) >= 0) return true;
  }
  return false;
}

}  // namespace reel
