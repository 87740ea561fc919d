// Soundtrack decoding on libavcodec and libswresample.
//
// The output format is fixed before the first packet, from the stream's parameters or the
// caller's request, and every decoded frame is resampled to it. A frame whose own format differs
// from what the stream declared (AAC with spectral band replication doubles its rate; some streams
// change layout mid-way) gets a resampler of its own, so the block stays in one format throughout.
#include "platform/mediagraph/soundtrack_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <limits>
#include <memory>

#include "platform/mediagraph/media_source.h"

namespace reel {
namespace {

constexpr uint64_t kMaxPcmBytes = std::numeric_limits<uint32_t>::max();
// The block is reserved up front from the stated duration, so a long track is not copied as it
// grows; a duration that a damaged header overstates is not trusted beyond this.
constexpr uint64_t kMaxReserveBytes = uint64_t{1} << 30;
constexpr int kProgressEveryPackets = 256;
constexpr uint16_t kWidestOutput = 2;
// A decoder that reports this many failed frames in a row without asking for input is stuck.
constexpr int kFailuresInARow = 64;
// A sound further than this from the picture it is placed against has broken time stamps.
constexpr int64_t kFarthestPlacement = 3600 * kTimelineUnitsPerSecond;
constexpr AVRational kTimelineBase{1, static_cast<int>(kTimelineUnitsPerSecond)};

struct CodecDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ResamplerDeleter {
  void operator()(SwrContext* context) const { swr_free(&context); }
};

PcmFormat MakePcmFormat(uint32_t rate, uint16_t channels) {
  PcmFormat format;
  format.channels = channels;
  format.samplesPerSec = rate;
  format.blockAlign = static_cast<uint16_t>(channels * 2);
  format.avgBytesPerSec = rate * format.blockAlign;
  return format;
}

struct OpenedTrack {
  std::unique_ptr<MediaSource> source;
  int stream = -1;
  const AVCodec* codec = nullptr;
};

Result<std::optional<OpenedTrack>> OpenTrack(const std::string& path, const SoundtrackLimits& limits) {
  auto source = MediaSource::Open(path, limits.quietFor, limits.format,
                                  limits.soundInfoOnly ? StreamsWanted::kSound : StreamsWanted::kAll);
  if (!source) return source.error();
  AVFormatContext* context = (*source)->Context();
  const AVCodec* codec = nullptr;
  const int stream = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (stream == AVERROR_STREAM_NOT_FOUND) return std::optional<OpenedTrack>();
  if (stream < 0 || codec == nullptr) {
    return MakeError(ErrorKind::kUnsupported, path, "no decoder for its soundtrack");
  }
  const AVCodecParameters& parameters = *context->streams[stream]->codecpar;
  if (parameters.sample_rate <= 0 || parameters.ch_layout.nb_channels <= 0) {
    return MakeError(ErrorKind::kDamaged, path, "its soundtrack has no readable rate or channel count");
  }
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    context->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  return std::optional<OpenedTrack>(OpenedTrack{std::move(*source), stream, codec});
}

// Where the decoded sound goes on the file's timeline: its first frame's time stamp against the
// time the PCM is to begin.
struct Placement {
  std::optional<int64_t> startAt;  // 100-ns units; none: the sound is not moved
  AVRational timeBase{0, 1};       // the stream's
  int64_t streamStart = AV_NOPTS_VALUE;
};

PcmFormat DefaultFormat(const AVCodecParameters& parameters) {
  const auto channels = static_cast<uint16_t>(std::min<int>(parameters.ch_layout.nb_channels, kWidestOutput));
  return MakePcmFormat(static_cast<uint32_t>(parameters.sample_rate), channels);
}

// Decodes and resamples one track into a growing PCM block.
class TrackDecoder {
 public:
  TrackDecoder(std::string path, PcmFormat format, Placement placement)
      : path_(std::move(path)), format_(format), placement_(placement) {
    av_channel_layout_default(&outLayout_, format_.channels);
  }
  ~TrackDecoder() {
    av_channel_layout_uninit(&outLayout_);
    av_channel_layout_uninit(&inLayout_);
  }
  TrackDecoder(const TrackDecoder&) = delete;
  TrackDecoder& operator=(const TrackDecoder&) = delete;

  std::vector<uint8_t>& Data() { return data_; }
  // Where converted bytes go from now on (the decoder's own block by default).
  void SendTo(std::vector<uint8_t>& out) { out_ = &out; }

  // Converts one decoded frame and appends it; the first one is placed on the timeline first.
  Status Append(const AVFrame& frame) {
    if (!placed_) {
      placed_ = true;
      if (Status led = Place(frame); !led) return led;
    }
    if (!MatchesInput(frame)) {
      if (Status flushed = Flush(); !flushed) return flushed;
      if (Status made = MakeResampler(frame); !made) return made;
    }
    return Convert(frame.extended_data, frame.nb_samples);
  }

  // Whatever the resampler still holds.
  Status Flush() {
    if (!resampler_) return {};
    return Convert(nullptr, 0);
  }

 private:
  // The samples between the PCM's start and the first frame's time: silence ahead of the sound,
  // or samples of the sound to leave out.
  Status Place(const AVFrame& frame) {
    if (!placement_.startAt || placement_.timeBase.num <= 0 || placement_.timeBase.den <= 0) return {};
    int64_t stamp = frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
    if (stamp == AV_NOPTS_VALUE) stamp = placement_.streamStart;
    if (stamp == AV_NOPTS_VALUE) return {};
    const int64_t gap = av_rescale_q(stamp, placement_.timeBase, kTimelineBase) - *placement_.startAt;
    if (gap > kFarthestPlacement || gap < -kFarthestPlacement) return {};
    const int64_t samples = av_rescale_rnd(gap, format_.samplesPerSec, kTimelineUnitsPerSecond, AV_ROUND_NEAR_INF);
    if (samples < 0) {
      toLeaveOut_ = -samples;
      return {};
    }
    return AppendSilence(samples);
  }

  Status AppendSilence(int64_t samples) {
    const uint64_t bytes = static_cast<uint64_t>(samples) * format_.blockAlign;
    total_ += bytes;
    if (total_ > kMaxPcmBytes) {
      return MakeError(ErrorKind::kUnsupported, path_, "its soundtrack is longer than 4 GiB of 16-bit PCM");
    }
    out_->resize(out_->size() + static_cast<std::size_t>(bytes), 0);
    return {};
  }

  // Takes the samples still to be left out from the front of the `made` samples at `at`.
  std::size_t LeaveOut(std::vector<uint8_t>& data, std::size_t at, std::size_t made) {
    if (toLeaveOut_ == 0) return made;
    const auto dropped = static_cast<std::size_t>(std::min<int64_t>(toLeaveOut_, static_cast<int64_t>(made)));
    const auto first = data.begin() + static_cast<std::ptrdiff_t>(at);
    data.erase(first, first + static_cast<std::ptrdiff_t>(dropped * format_.blockAlign));
    toLeaveOut_ -= static_cast<int64_t>(dropped);
    return made - dropped;
  }

  bool MatchesInput(const AVFrame& frame) const {
    return resampler_ && frame.format == inFormat_ && frame.sample_rate == inRate_ &&
           av_channel_layout_compare(&frame.ch_layout, &inLayout_) == 0;
  }

  Status MakeResampler(const AVFrame& frame) {
    av_channel_layout_uninit(&inLayout_);
    if (av_channel_layout_copy(&inLayout_, &frame.ch_layout) < 0 || inLayout_.nb_channels <= 0) {
      return MakeError(ErrorKind::kDamaged, path_, "its soundtrack has a frame without channels");
    }
    if (inLayout_.order == AV_CHANNEL_ORDER_UNSPEC) {
      const int channels = inLayout_.nb_channels;
      av_channel_layout_uninit(&inLayout_);
      av_channel_layout_default(&inLayout_, channels);
    }
    inFormat_ = frame.format;
    inRate_ = frame.sample_rate;
    if (inRate_ <= 0) return MakeError(ErrorKind::kDamaged, path_, "its soundtrack has a frame without a rate");
    SwrContext* resampler = nullptr;
    if (swr_alloc_set_opts2(&resampler, &outLayout_, AV_SAMPLE_FMT_S16, static_cast<int>(format_.samplesPerSec),
                            &inLayout_, static_cast<AVSampleFormat>(inFormat_), inRate_, 0, nullptr) < 0 ||
        !KeepMonoLevel(resampler) || swr_init(resampler) < 0) {
      swr_free(&resampler);
      return MakeError(ErrorKind::kUnsupported, path_, "its soundtrack cannot be converted to 16-bit PCM");
    }
    resampler_.reset(resampler);
    return {};
  }

  // Mono made stereo is the same sample on both sides, at full level, as a PCM converter copies
  // it; the resampler's default would lower a lone centre channel by 3 dB on each side.
  bool KeepMonoLevel(SwrContext* resampler) const {
    if (inLayout_.nb_channels != 1 || outLayout_.nb_channels != 2) return true;
    const double bothSides[2] = {1.0, 1.0};  // one row per output channel, one input channel
    return swr_set_matrix(resampler, bothSides, 1) >= 0;
  }

  Status Convert(uint8_t* const* input, int samples) {
    const int room = swr_get_out_samples(resampler_.get(), samples);
    if (room < 0) return MakeError(ErrorKind::kDamaged, path_, "its soundtrack cannot be converted");
    if (room == 0) return {};
    std::vector<uint8_t>& data = *out_;
    const std::size_t before = data.size();
    const std::size_t wanted = static_cast<std::size_t>(room) * format_.blockAlign;
    data.resize(before + wanted);
    uint8_t* out[1] = {data.data() + before};
    const int made = swr_convert(resampler_.get(), out, room, const_cast<const uint8_t**>(input), samples);
    if (made < 0) {
      data.resize(before);
      return MakeError(ErrorKind::kDamaged, path_, "its soundtrack cannot be converted");
    }
    data.resize(before + static_cast<std::size_t>(made) * format_.blockAlign);
    const std::size_t bytes = LeaveOut(data, before, static_cast<std::size_t>(made)) * format_.blockAlign;
    total_ += bytes;
    if (total_ > kMaxPcmBytes) {
      return MakeError(ErrorKind::kUnsupported, path_, "its soundtrack is longer than 4 GiB of 16-bit PCM");
    }
    return {};
  }

  std::string path_;
  PcmFormat format_;
  Placement placement_;
  bool placed_ = false;
  int64_t toLeaveOut_ = 0;  // samples
  AVChannelLayout outLayout_{};
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int inRate_ = 0;
  std::unique_ptr<SwrContext, ResamplerDeleter> resampler_;
  std::vector<uint8_t> data_;
  std::vector<uint8_t>* out_ = &data_;
  uint64_t total_ = 0;  // bytes converted so far, wherever they went
};

uint64_t ReserveBytes(const MediaSource& source, int stream, const PcmFormat& format) {
  const AVStream& audio = *source.Stream(stream);
  int64_t microseconds = 0;
  if (audio.duration > 0 && audio.duration != AV_NOPTS_VALUE) {
    microseconds = av_rescale_q(audio.duration, audio.time_base, AV_TIME_BASE_Q);
  } else if (source.Context()->duration > 0 && source.Context()->duration != AV_NOPTS_VALUE) {
    microseconds = source.Context()->duration;
  }
  const auto bytes = static_cast<uint64_t>(av_rescale(microseconds, format.avgBytesPerSec, AV_TIME_BASE)) + format.avgBytesPerSec;
  return std::min(bytes, kMaxReserveBytes);
}

double Share(const MediaSource& source, const AVPacket& packet) {
  const AVStream& stream = *source.Stream(packet.stream_index);
  const int64_t length = source.Context()->duration;
  if (packet.pts == AV_NOPTS_VALUE || length <= 0 || length == AV_NOPTS_VALUE) return 0.0;
  const int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
  const int64_t at = av_rescale_q(packet.pts - start, stream.time_base, AV_TIME_BASE_Q);
  return std::clamp(static_cast<double>(at) / static_cast<double>(length), 0.0, 1.0);
}

}  // namespace

Result<std::optional<PcmFormat>> ProbeSoundtrack(const std::string& path, const SoundtrackLimits& limits) {
  auto track = OpenTrack(path, limits);
  if (!track) return track.error();
  if (!*track) return std::optional<PcmFormat>();
  const OpenedTrack& opened = **track;
  return std::optional<PcmFormat>(DefaultFormat(*opened.source->Stream(opened.stream)->codecpar));
}

namespace {

// One track being read: the source, its decoder and the conversion, a packet at a time.
class TrackReading {
 public:
  using Opened = std::optional<std::unique_ptr<TrackReading>>;

  static Result<Opened> Open(const std::string& path, const PcmRequest& request, const SoundtrackLimits& limits) {
    if (request.channels > kWidestOutput) {
      return MakeError(ErrorKind::kUsage, path, "a soundtrack is read as mono or stereo");
    }
    return Open(path, [&request](const PcmFormat&) { return request; }, limits);
  }

  static Result<Opened> Open(const std::string& path, const SoundtrackPieces::RequestChoice& choose,
                             const SoundtrackLimits& limits) {
    auto track = OpenTrack(path, limits);
    if (!track) return track.error();
    if (!*track) return Opened();
    OpenedTrack& opened = **track;
    const AVCodecParameters& parameters = *opened.source->Stream(opened.stream)->codecpar;
    PcmFormat format = DefaultFormat(parameters);
    const PcmRequest request = choose(format);
    if (request.channels > kWidestOutput) {
      return MakeError(ErrorKind::kUsage, path, "a soundtrack is read as mono or stereo");
    }
    if (request.samplesPerSec != 0 || request.channels != 0) {
      format = MakePcmFormat(request.samplesPerSec != 0 ? request.samplesPerSec : format.samplesPerSec,
                             request.channels != 0 ? request.channels : format.channels);
    }
    auto reading = std::unique_ptr<TrackReading>(new TrackReading(path, std::move(opened), format, request.startAt));
    if (Status started = reading->Start(); !started) return started.error();
    return Opened(std::move(reading));
  }

  const PcmFormat& Format() const { return format_; }
  const MediaSource& Source() const { return *opened_.source; }
  int Stream() const { return opened_.stream; }
  TrackDecoder& Decoder() { return decoder_; }
  const AVPacket& Packet() const { return *packet_; }

  // Reads the next packet; false when there is none left.
  Result<bool> ReadPacket() {
    auto got = opened_.source->NextPacket(opened_.stream, packet_.get());
    if (!got) return got.error();
    return *got;
  }

  // Decodes the packet read last and converts what it gives.
  Status DecodePacket() {
    // A packet the decoder refuses is damaged; the sound goes on with the next one.
    avcodec_send_packet(codec_.get(), packet_.get());
    return Drain();
  }

  // The decoder's and the converter's last samples.
  Status Finish() {
    avcodec_send_packet(codec_.get(), nullptr);
    if (Status drained = Drain(); !drained) return drained;
    return decoder_.Flush();
  }

 private:
  TrackReading(const std::string& path, OpenedTrack opened, PcmFormat format, std::optional<int64_t> startAt)
      : path_(path), opened_(std::move(opened)), format_(format), decoder_(path, format, PlacementOf(opened_, startAt)) {}

  static Placement PlacementOf(const OpenedTrack& opened, std::optional<int64_t> startAt) {
    const AVStream& stream = *opened.source->Stream(opened.stream);
    return Placement{startAt, stream.time_base, stream.start_time};
  }

  Status Start() {
    const AVCodecParameters& parameters = *opened_.source->Stream(opened_.stream)->codecpar;
    codec_.reset(avcodec_alloc_context3(opened_.codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!codec_ || !frame_ || !packet_) return MakeError(ErrorKind::kOutOfMemory, path_, "out of memory");
    if (avcodec_parameters_to_context(codec_.get(), &parameters) < 0) {
      return MakeError(ErrorKind::kDamaged, path_, "its soundtrack parameters cannot be read");
    }
    codec_->pkt_timebase = opened_.source->Stream(opened_.stream)->time_base;
    if (const int started = avcodec_open2(codec_.get(), opened_.codec, nullptr); started < 0) {
      return MakeError(ErrorKind::kUnsupported, path_,
                       std::string("its soundtrack decoder (") + opened_.codec->name + ") does not start (" +
                           AvErrorText(started) + ")");
    }
    return {};
  }

  // Takes every frame the decoder has ready; frames that fail to decode are passed over.
  Status Drain() {
    for (int failures = 0; failures < kFailuresInARow;) {
      const int received = avcodec_receive_frame(codec_.get(), frame_.get());
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return {};
      if (received < 0) {
        ++failures;
        continue;
      }
      failures = 0;
      const Status appended = decoder_.Append(*frame_);
      av_frame_unref(frame_.get());
      if (!appended) return appended;
    }
    return {};
  }

  std::string path_;
  OpenedTrack opened_;
  PcmFormat format_;
  TrackDecoder decoder_;
  std::unique_ptr<AVCodecContext, CodecDeleter> codec_;
  std::unique_ptr<AVFrame, FrameDeleter> frame_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
};

}  // namespace

Result<std::optional<DecodedSoundtrack>> ReadSoundtrack(const std::string& path, const PcmRequest& request,
                                                    const SoundtrackProgress& progress,
                                                    const SoundtrackLimits& limits) {
  auto opened = TrackReading::Open(path, request, limits);
  if (!opened) return opened.error();
  if (!*opened) return std::optional<DecodedSoundtrack>();
  TrackReading& reading = ***opened;
  reading.Decoder().Data().reserve(ReserveBytes(reading.Source(), reading.Stream(), reading.Format()));
  for (int64_t packets = 0;; ++packets) {
    auto got = reading.ReadPacket();
    if (!got) return got.error();
    if (!*got) break;
    if (progress && packets % kProgressEveryPackets == 0 && !progress(Share(reading.Source(), reading.Packet()))) {
      return MakeError(ErrorKind::kStopped, path, "reading the soundtrack was stopped");
    }
    if (Status decoded = reading.DecodePacket(); !decoded) return decoded.error();
  }
  if (Status finished = reading.Finish(); !finished) return finished.error();
  if (progress) progress(1.0);

  DecodedSoundtrack soundtrack;
  soundtrack.format = reading.Format();
  soundtrack.data = std::move(reading.Decoder().Data());
  return std::optional<DecodedSoundtrack>(std::move(soundtrack));
}

struct SoundtrackPieces::State {
  std::unique_ptr<TrackReading> reading;
  bool ended = false;
};

SoundtrackPieces::SoundtrackPieces(std::unique_ptr<State> state) : state_(std::move(state)) {}
SoundtrackPieces::SoundtrackPieces(SoundtrackPieces&&) noexcept = default;
SoundtrackPieces& SoundtrackPieces::operator=(SoundtrackPieces&&) noexcept = default;
SoundtrackPieces::~SoundtrackPieces() = default;

Result<std::optional<SoundtrackPieces>> SoundtrackPieces::Open(const std::string& path, const PcmRequest& request,
                                                               const SoundtrackLimits& limits) {
  if (request.channels > kWidestOutput) {
    return MakeError(ErrorKind::kUsage, path, "a soundtrack is read as mono or stereo");
  }
  return Open(path, [&request](const PcmFormat&) { return request; }, limits);
}

Result<std::optional<SoundtrackPieces>> SoundtrackPieces::Open(const std::string& path, const RequestChoice& choose,
                                                               const SoundtrackLimits& limits) {
  auto opened = TrackReading::Open(path, choose, limits);
  if (!opened) return opened.error();
  if (!*opened) return std::optional<SoundtrackPieces>();
  auto state = std::make_unique<State>();
  state->reading = std::move(**opened);
  return std::optional<SoundtrackPieces>(SoundtrackPieces(std::move(state)));
}

const PcmFormat& SoundtrackPieces::Format() const { return state_->reading->Format(); }

Result<bool> SoundtrackPieces::Next(std::vector<uint8_t>& out) {
  if (state_->ended) return false;
  TrackReading& reading = *state_->reading;
  reading.Decoder().SendTo(out);
  auto got = reading.ReadPacket();
  if (!got) return got.error();
  if (*got) {
    if (Status decoded = reading.DecodePacket(); !decoded) return decoded.error();
    return true;
  }
  state_->ended = true;
  if (Status finished = reading.Finish(); !finished) return finished.error();
  return false;
}

}  // namespace reel
