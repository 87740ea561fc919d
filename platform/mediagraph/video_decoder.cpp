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
  decoder->codec_->thread_count = DecoderThreadCount(limits.decoderThreads, *video);
  decoder->codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  const int opened = avcodec_open2(decoder->codec_, codec, nullptr);
  if (opened < 0) {
    return MakeError(ErrorKind::kUnsupported, path,
                     std::string("its video decoder (") + codec->name + ") does not start (" + AvErrorText(opened) + ")");
  }
  if (!decoder->datedPictures_ && !StoresNoPresentationTimes(*context)) {
    const AVCodecParameters& parameters = *video->codecpar;
    const auto setupSize = static_cast<std::size_t>(std::max(parameters.extradata_size, 0));
    UnreferencedPictures judge(parameters.codec_id, std::span<const uint8_t>(parameters.extradata, setupSize));
    if (judge.Judging()) decoder->judge_.emplace(std::move(judge));
  }
  const AVRational rate = DeclaredFrameRate(*video);
  if (Valid(rate)) decoder->declaredFrameTime_ = av_rescale_q(1, av_inv_q(rate), kMediaTimeBase);
  return decoder;
}

Result<std::optional<DecodedPicture>> VideoDecoder::Next() {
  if (exact_) return exact_->Next();
  while (ready_.empty() && !restart_) {
    auto filled = Fill();
    if (!filled) return filled.error();
    if (!*filled) break;
  }
  if (restart_) return NextExactly();
  if (ready_.empty()) return std::optional<DecodedPicture>();
  Outcome out = std::move(ready_.front());
  ready_.pop_front();
  DecodedPicture picture;
  picture.index = nextIndex_++;
  picture.time = PresentationTime(out.stamp);
  picture.frame = std::move(out.frame);
  return std::optional<DecodedPicture>(std::move(picture));
}

// Makes the next picture the decoder gives ready, with the pictures passed over before it; false
// at the end of the stream.
Result<bool> VideoDecoder::Fill() {
  FramePtr frame(av_frame_alloc());
  if (!frame) return MakeError(ErrorKind::kOutOfMemory, source_->Path(), "out of memory");
  auto got = Receive(frame.get());
  if (!got) return got.error();
  if (!*got) {
    ReleaseTheRest();
    return !ready_.empty();
  }
  if (datedPictures_ && datedPictures_->Usable()) {
    if (const auto position = datedPictures_->NextPicture()) frame->best_effort_timestamp = *position;
  }
  if (judge_) {
    if (Foretold(*frame)) {
      ReleasePassedOverBefore(frame->pts);
    } else {
      Doubt();
    }
  }
  std::optional<int64_t> stamp;
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE) stamp = frame->best_effort_timestamp;
  ready_.push_back({std::move(frame), stamp});
  return true;
}

// Whether `packet` is a picture to pass over, and a check that the stream still behaves as its
// stamps foretell. Every packet read comes here, in stored order, while the stream is followed.
bool VideoDecoder::PassOver(const AVPacket& packet) {
  const bool hinted = keepStep_ > 1;
  const bool unreferenced = (hinted || judge_->FollowsPackets()) &&
                            judge_->Unreferenced({packet.data, static_cast<std::size_t>(packet.size)});
  // A packet the container marks for dropping (before an edit's start) is decoded for the
  // pictures after it, but gives no picture.
  if ((packet.flags & AV_PKT_FLAG_DISCARD) != 0) return false;
  const int64_t stamp = packet.pts;
  // Decoding times are not needed (Matroska stores none), but those given must rise.
  const bool decodingTimeFalls = packet.dts != AV_NOPTS_VALUE && lastDecodeTime_ && packet.dts <= *lastDecodeTime_;
  if (!judge_->Judging() || stamp == AV_NOPTS_VALUE || decodingTimeFalls || (lastOut_ && stamp <= *lastOut_) ||
      awaited_.contains(stamp)) {
    Doubt();
    return false;
  }
  if (packet.dts != AV_NOPTS_VALUE) lastDecodeTime_ = packet.dts;
  // Pictures read earlier but shown later: more than the decoder holds back would come out of
  // order, and one passed over among them was given its place too early.
  const auto later = awaited_.upper_bound(stamp);
  int64_t shownLater = 0;
  for (auto it = later; it != awaited_.end(); ++it) {
    if (it->second.passedOver) {
      Doubt();
      return false;
    }
    ++shownLater;
  }
  // What the decoder holds back is taken when passing over begins; the decoder may hold back more
  // on its own later (when pictures came out of order), and a decoder given every packet might
  // not have done the same then.
  if (hinted && !heldBack_) heldBack_ = codec_->has_b_frames;
  const int heldBack = heldBack_.value_or(codec_->has_b_frames);
  if (shownLater > heldBack || heldBack != codec_->has_b_frames) {
    Doubt();
    return false;
  }
  const auto shownBefore = static_cast<int64_t>(std::distance(awaited_.begin(), later));
  const int64_t index = nextIndex_ + static_cast<int64_t>(ready_.size()) + shownBefore;
  // It needs a picture on either side of it to be one that leans on others and that the decoder
  // would show; a picture with nothing decoded before it may be dropped by the decoder instead.
  const bool between = shownLater > 0 && (lastOut_ || shownBefore > 0);
  const bool pass = hinted && index % keepStep_ != 0 && unreferenced && between;
  awaited_[stamp] = Awaited{pass};
  if (pass) ++passedOver_;
  return pass;
}

// A picture from the decoder is the one foretold when it is the earliest decoded one awaited,
// stamped as its packet was, at the stream's size.
bool VideoDecoder::Foretold(const AVFrame& frame) {
  if (width_ == 0) {
    width_ = frame.width;
    height_ = frame.height;
  }
  if (frame.pts == AV_NOPTS_VALUE || frame.best_effort_timestamp != frame.pts || frame.width != width_ ||
      frame.height != height_) {
    return false;
  }
  for (const auto& [stamp, awaited] : awaited_) {
    if (!awaited.passedOver) return stamp == frame.pts;
  }
  return false;
}

void VideoDecoder::ReleasePassedOverBefore(int64_t stamp) {
  while (!awaited_.empty() && awaited_.begin()->first < stamp) {
    ready_.push_back({nullptr, awaited_.begin()->first});
    awaited_.erase(awaited_.begin());
  }
  awaited_.erase(stamp);
  lastOut_ = stamp;
}

// At the end, the pictures passed over after the last one decoded come out; a decoded one still
// awaited (the decoder gave nothing for it) is a doubt.
void VideoDecoder::ReleaseTheRest() {
  if (!judge_) return;
  for (const auto& [stamp, awaited] : awaited_) {
    if (!awaited.passedOver) {
      Doubt();
      return;
    }
  }
  for (const auto& [stamp, awaited] : awaited_) ready_.push_back({nullptr, stamp});
  awaited_.clear();
}

// The stream is no longer followed. Once pictures were passed over, what comes next may differ
// from what a decoder given every packet would give: the stream is decoded again from its start.
void VideoDecoder::Doubt() {
  judge_.reset();
  awaited_.clear();
  if (passedOver_ > 0) restart_ = true;
}

Result<std::optional<DecodedPicture>> VideoDecoder::NextExactly() {
  DecoderLimits limits = limits_;
  limits.format = source_->Format();
  auto fresh = Open(source_->Path(), limits);
  if (!fresh) return fresh.error();
  exact_ = std::move(*fresh);
  for (int64_t index = 0; index < nextIndex_; ++index) {
    auto passed = exact_->Next();
    if (!passed || !*passed) return passed;
  }
  return exact_->Next();
}

// Feeds packets until the decoder gives a picture. A packet the decoder refuses is damaged and
// passed over, as a player passes over it; only a long run of packets without any picture is an
// error.
Result<bool> VideoDecoder::Receive(AVFrame* into) {
  // Each round either reads a packet or takes a result from the decoder, so this bounds both.
  const int64_t roundsAllowed = 2 * limits_.packetsWithoutPicture;
  for (int64_t round = 0; !finished_ && !restart_; ++round) {
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
    if (received != AVERROR(EAGAIN) && judge_) Doubt();
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
    if (judge_ && PassOver(*packet_)) continue;
    ++packetsDecoded_;
    if (avcodec_send_packet(codec_, packet_) < 0 && judge_) Doubt();
  }
  return false;
}

int64_t VideoDecoder::PresentationTime(std::optional<int64_t> stamp) {
  const AVRational timeBase = source_->Stream(stream_)->time_base;
  int64_t time = -1;
  if (stamp) {
    if (!origin_) origin_ = *stamp;
    time = av_rescale_q(*stamp - *origin_, timeBase, kMediaTimeBase);
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
