#include "platform/videodecoding/decoder_threads.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
}

namespace reel {
namespace {

// From four processors on, the job's other threads leave enough of them to the decoder.
constexpr int kProcessorsToSpare = 4;

// Pixels a second (weighted by the codec's cost) from which frame threads shorten a job on two
// processors. Measured on 30 s jobs at the default settings: H.264 at 640 x 360, 24 fps (5.5
// million pixels a second) was 18 % faster on one thread, at 1280 x 720, 30 fps (27.6 million)
// 14 % slower; on one thread MPEG-4 part 2 at 1280 x 720, 25 fps was 8 % faster, at 640 x 480
// with B-frames 13 %, MPEG-1 at 640 x 480 16 %.
constexpr double kThreadedPixelRate = 15e6;

// How costly a codec's pictures are to decode, per pixel, against H.264's.
double CostPerPixel(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1:
    case AV_CODEC_ID_VVC:
      return 1.0;
    case AV_CODEC_ID_VP8:
    case AV_CODEC_ID_VC1:
    case AV_CODEC_ID_WMV3:
      return 0.7;
    default:
      return 0.35;  // MPEG-1/2, MPEG-4 part 2 and its kin, Theora, intra-only codecs
  }
}

}  // namespace

int DecoderThreadCount(DecoderThreads threads, const DecodingLoad& load) {
  switch (threads) {
    case DecoderThreads::kAuto: return 0;
    case DecoderThreads::kOne: return 1;
    case DecoderThreads::kFitted: break;
  }
  if (load.processors >= kProcessorsToSpare) return 0;
  if (load.rate.num <= 0 || load.rate.den <= 0 || load.width <= 0 || load.height <= 0) return 0;  // cost unknown
  const double pixelRate = double{1.0} * load.width * load.height * load.rate.num / load.rate.den;
  return pixelRate * CostPerPixel(load.codec) >= kThreadedPixelRate ? 0 : 1;
}

int DecoderThreadCount(DecoderThreads threads, const AVStream& video) {
  const AVCodecParameters& coded = *video.codecpar;
  const AVRational rate = video.avg_frame_rate.num > 0 ? video.avg_frame_rate : video.r_frame_rate;
  return DecoderThreadCount(threads, DecodingLoad{coded.codec_id, coded.width, coded.height, rate, av_cpu_count()});
}

}  // namespace reel
