#include "platform/mediagraph/video_decoder.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <span>
#include <string>

namespace reel {
namespace {

constexpr AVRational kMediaTimeBase{1, 10'000'000};

bool Valid(AVRational rate) { return rate.num > 0 && rate.den > 0; }

// AVI stores each video packet at its position and no presentation time.
bool StoresNoPresentationTimes(const AVFormatContext& context) {
  return context.iformat != nullptr && context.iformat->name != nullptr && std::string(context.iformat->name) == "avi";
}

}  // namespace

AVRational DeclaredFrameRate(const AVStream& stream) {
  if (Valid(stream.avg_frame_rate)) return stream.avg_frame_rate;
  if (Valid(stream.r_frame_rate)) return stream.r_frame_rate;
  return AVRational{0, 1};
}

VideoDecoder::~VideoDecoder() {
  avcodec_free_context(&codec_);
  av_packet_free(&packet_);
}

Result<std::unique_ptr<VideoDecoder>> VideoDecoder::Open(const std::string& path, const DecoderLimits& limits) {
  auto source = MediaSource::Open(path, limits.quietFor, limits.format);
  if (!source) return source.error();
  auto decoder = std::make_unique<VideoDecoder>(Key());
  decoder->source_ = std::move(*source);
  decoder->limits_ = limits;
  AVFormatContext* context = decoder->source_->Context();
  const AVCodec* codec = nullptr;
  const int stream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (stream == AVERROR_STREAM_NOT_FOUND) return MakeError(ErrorKind::kUnsupported, path, "has no video stream");
  if (stream < 0 || codec == nullptr) {
    const AVCodecDescriptor* descriptor = nullptr;
    for (unsigned i = 0; i < context->nb_streams && descriptor == nullptr; ++i) {
      if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        descriptor = avcodec_descriptor_get(context->streams[i]->codecpar->codec_id);
      }
    }
    const std::string name = descriptor != nullptr ? descriptor->name : "unknown";
    return MakeError(ErrorKind::kUnsupported, path, "no decoder for its video (" + name + ")");
  }
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    context->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  decoder->stream_ = stream;
  decoder->codec_ = avcodec_alloc_context3(codec);
  decoder->packet_ = av_packet_alloc();
  if (decoder->codec_ == nullptr || decoder->packet_ == nullptr) {
    return MakeError(ErrorKind::kOutOfMemory, path, "out of memory");
  }
  AVStream* video = context->streams[stream];
  if (avcodec_parameters_to_context(decoder->codec_, video->codecpar) < 0) {
    return MakeError(ErrorKind::kDamaged, path, "its video parameters cannot be read");
  }
  decoder->codec_->pkt_timebase = video->time_base;
  if (video->codecpar->codec_id == AV_CODEC_ID_MPEG4 && StoresNoPresentationTimes(*context)) {
    const AVCodecParameters& parameters = *video->codecpar;
    const auto setupSize = static_cast<std::size_t>(std::max(parameters.extradata_size, 0));
    decoder->datedPictures_.emplace(std::span<const uint8_t>(parameters.extradata, setupSize), video->time_base.num,
                                    video->time_base.den);
  }
  if (limits.pictureMemory == PictureMemory::kLargePages) {
    decoder->storage_ = std::make_unique<PictureStorage>();
    decoder->storage_->AttachTo(*decoder->codec_);
  }
  decoder->codec_->thread_count = limits.oneDecoderThread ? 1 : 0;
  decoder->codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  const int opened = avcodec_open2(decoder->codec_, codec, nullptr);
  if (opened < 0) {
    return MakeError(ErrorKind::kUnsupported, path,
                     std::string("its video decoder (") + codec->name + ") does not start (" + AvErrorText(opened) + ")");
  }
  const AVRational rate = DeclaredFrameRate(*video);
  if (Valid(rate)) decoder->declaredFrameTime_ = av_rescale_q(1, av_inv_q(rate), kMediaTimeBase);
  return decoder;
}

Result<std::optional<DecodedPicture>> VideoDecoder::Next() {
  FramePtr frame(av_frame_alloc());
  if (!frame) return MakeError(ErrorKind::kOutOfMemory, source_->Path(), "out of memory");
  auto got = Receive(frame.get());
  if (!got) return got.error();
  if (!*got) return std::optional<DecodedPicture>();
  if (datedPictures_ && datedPictures_->Usable()) {
    if (const auto position = datedPictures_->NextPicture()) frame->best_effort_timestamp = *position;
  }
  DecodedPicture picture;
  picture.index = nextIndex_++;
  picture.time = PresentationTime(*frame);
  picture.frame = std::move(frame);
  return std::optional<DecodedPicture>(std::move(picture));
}

// Feeds packets until the decoder gives a picture. A packet the decoder refuses is damaged and
// passed over, as a player passes over it; only a long run of packets without any picture is an
// error.
Result<bool> VideoDecoder::Receive(AVFrame* into) {
  // Each round either reads a packet or takes a result from the decoder, so this bounds both.
  const int64_t roundsAllowed = 2 * limits_.packetsWithoutPicture;
  for (int64_t round = 0; !finished_; ++round) {
    if (round > roundsAllowed) {
      return MakeError(ErrorKind::kDamaged, source_->Path(),
                       "its video gives no picture for " + std::to_string(limits_.packetsWithoutPicture) + " packets");
    }
    const int received = avcodec_receive_frame(codec_, into);
    if (received >= 0) return true;
    if (received == AVERROR_EOF) {
      finished_ = true;
      break;
    }
    if (draining_) {
      if (received == AVERROR(EAGAIN)) finished_ = true;
      continue;  // a picture that failed while draining; the rest may still come
    }
    if (received != AVERROR(EAGAIN)) continue;  // a picture that failed; the decoder goes on
    auto packet = source_->NextPacket(stream_, packet_);
    if (!packet) return packet.error();
    if (!*packet) {
      avcodec_send_packet(codec_, nullptr);
      draining_ = true;
      continue;
    }
    if (datedPictures_) {
      if (packet_->dts != AV_NOPTS_VALUE) {
        datedPictures_->Stored({packet_->data, static_cast<std::size_t>(packet_->size)}, packet_->dts);
      }
    }
    avcodec_send_packet(codec_, packet_);
  }
  return false;
}

int64_t VideoDecoder::PresentationTime(const AVFrame& frame) {
  const AVRational timeBase = source_->Stream(stream_)->time_base;
  int64_t time = -1;
  if (frame.best_effort_timestamp != AV_NOPTS_VALUE) {
    if (!origin_) origin_ = frame.best_effort_timestamp;
    time = av_rescale_q(frame.best_effort_timestamp - *origin_, timeBase, kMediaTimeBase);
  }
  // A picture without a time follows the one before it by a frame. One whose time repeats or goes
  // back (a muxer's slip: a stamp written one picture late) follows it by the least step, so the
  // slip does not push every later picture a frame late.
  if (lastTime_ >= 0 && time < 0) time = lastTime_ + std::max<int64_t>(declaredFrameTime_, 1);
  if (lastTime_ >= 0 && time <= lastTime_) time = lastTime_ + 1;
  if (time < 0) time = 0;
  lastTime_ = time;
  return time;
}

}  // namespace reel
