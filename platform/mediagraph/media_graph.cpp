// The graph behind MediaGraph: one decoder pumping pictures in presentation order, the picture on
// screen and the one decoded after it, and a clock in 100-ns units.
//
// The picture on screen at clock time t is the last picture whose presentation time is at most
// t plus a small slack. The slack exists because containers with millisecond time stamps
// (Matroska, WebM, FLV) round a 30 fps video's pictures to 33, 67, 100 ms: picture 2 starts 0.3 ms
// after frame 2's time, yet a real-time player polling its position every millisecond would find
// it on screen when its position first reads frame 2.
#include "platform/mediagraph/media_graph.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <limits>

#include "common/byte_io.h"
#include "platform/mediagraph/picture_converter.h"
#include "platform/mediagraph/video_decoder.h"

namespace reel {
namespace {

constexpr AVRational kMediaTimeBase{1, static_cast<int>(kMediaTimePerSecond)};
constexpr int64_t kOneMillisecond = kMediaTimePerSecond / 1000;
// Pictures larger than this either way are refused: no source the converter takes is, and the
// sample size must fit the 32-bit fields of the bitmap header.
constexpr int kMaxPictureSide = 16384;

// A stated frame count beyond this comes from a damaged header (the converter counts frames in 32
// bits); the packets are counted instead.
constexpr int64_t kMostFrames = std::numeric_limits<int32_t>::max();

bool Valid(AVRational rate) { return rate.num > 0 && rate.den > 0; }

struct Lengths {
  int64_t mediaTime = 0;
  int64_t frames = 0;
};

// A time stamp that falls this far behind the latest one seen cannot be a reordered picture: the
// stream starts its timeline again there (files joined end to end, a capture whose clock was reset).
constexpr uint64_t kTimelineRestart = kMediaTimePerSecond;
// In containers whose time stamps may jump (program and transport streams, chained Ogg), a jump
// forward this large is a new timeline too, not a pause in the pictures: the threshold libavformat's
// own tools take for a discontinuity.
constexpr uint64_t kTimelineJump = 10 * kMediaTimePerSecond;
constexpr uint64_t kNoTimelineJump = std::numeric_limits<uint64_t>::max();

// The span of a video's pictures from their time stamps in file order: from the first picture's
// time to the last one's plus one frame. Where the timeline starts again, the span so far is kept
// and a new one begins, so that every picture counted is covered once.
class PictureSpan {
 public:
  // `frameTime` is one frame's time (0 until known); a step forward beyond `jump` starts anew.
  PictureSpan(int64_t frameTime, uint64_t jump) : frameTime_(frameTime), jump_(jump) {}

  void Add(int64_t time, int64_t frameTime) {
    if (frameTime_ <= 0) frameTime_ = frameTime;
    if (open_ && (Gap(last_, time) > kTimelineRestart || Gap(time, last_) > jump_)) Close();
    untimedAfter_ = 0;
    if (!open_) {
      open_ = true;
      first_ = time;
      last_ = time;
      return;
    }
    first_ = std::min(first_, time);
    last_ = std::max(last_, time);
  }

  // A picture without a time stamp (program streams stamp only some). One between stamped pictures
  // lies within the span; those after the last stamped one extend it by a frame each.
  void AddUntimed() {
    if (open_) ++untimedAfter_;
  }

  int64_t Total() {
    Close();
    return static_cast<int64_t>(total_);
  }

 private:
  // How far `later` lies beyond `earlier` (0 when it does not), without overflow on wild stamps.
  static uint64_t Gap(int64_t later, int64_t earlier) {
    return later > earlier ? static_cast<uint64_t>(later) - static_cast<uint64_t>(earlier) : 0;
  }

  // a + b, held at the largest media time (time stamps of a damaged file may be anything).
  static uint64_t Sum(uint64_t a, uint64_t b) {
    constexpr uint64_t kMost = std::numeric_limits<int64_t>::max();
    return b > kMost - std::min(a, kMost) ? kMost : a + b;
  }

  void Close() {
    if (!open_) return;
    const auto frameTime = static_cast<uint64_t>(std::max<int64_t>(frameTime_, 0));
    total_ = Sum(total_, Gap(last_, first_));
    for (int64_t frame = 0; frame <= untimedAfter_; ++frame) total_ = Sum(total_, frameTime);
    open_ = false;
    untimedAfter_ = 0;
  }

  int64_t frameTime_;
  uint64_t jump_;
  bool open_ = false;  // a stretch is under way from first_ to last_
  int64_t first_ = 0;
  int64_t last_ = 0;
  int64_t untimedAfter_ = 0;
  uint64_t total_ = 0;
};

// One frame's time for the span's end: the declared rate's, else the first packet duration seen.
int64_t FrameTimeOf(const AVStream& stream, int64_t packetDuration) {
  const AVRational rate = DeclaredFrameRate(stream);
  if (Valid(rate)) return av_rescale_q(1, av_inv_q(rate), kMediaTimeBase);
  return std::max<int64_t>(av_rescale_q(packetDuration, stream.time_base, kMediaTimeBase), 0);
}

// Counts the video packets of the whole file without decoding them, and measures the span of their
// time stamps. For containers without a sample table this is the exact frame count (each packet of
// a video stream holds one picture), and the span covers the same pictures: the duration such a
// file states may be an estimate, cover its sound too, or simply be wrong.
std::optional<Lengths> CountVideoPackets(const std::string& path, const GraphLimits& limits,
                                         const std::optional<SourceFormat>& format) {
  auto source = MediaSource::Open(path, limits.quietFor, format);
  if (!source) return std::nullopt;
  AVFormatContext* context = (*source)->Context();
  const int stream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream < 0) return std::nullopt;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    context->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) return std::nullopt;
  const AVStream& video = *context->streams[stream];
  Lengths lengths;
  const bool jumps = context->iformat != nullptr && (context->iformat->flags & AVFMT_TS_DISCONT) != 0;
  PictureSpan span(FrameTimeOf(video, 0), jumps ? kTimelineJump : kNoTimelineJump);
  bool timed = false;
  bool ok = true;
  while (true) {
    auto got = (*source)->NextPacket(stream, packet);
    if (!got) {
      ok = false;
      break;
    }
    if (!*got) break;
    if ((packet->flags & AV_PKT_FLAG_DISCARD) != 0) continue;
    ++lengths.frames;
    if (packet->pts == AV_NOPTS_VALUE) {
      span.AddUntimed();
      continue;
    }
    span.Add(av_rescale_q(packet->pts, video.time_base, kMediaTimeBase), FrameTimeOf(video, packet->duration));
    timed = true;
  }
  av_packet_free(&packet);
  if (!ok) return std::nullopt;
  if (timed) lengths.mediaTime = span.Total();
  return lengths;
}

StatedLength StatedMediaTime(const AVFormatContext& context, const AVStream& stream) {
  if (stream.duration > 0 && stream.duration != AV_NOPTS_VALUE) {
    return {av_rescale_q(stream.duration, stream.time_base, kMediaTimeBase), false};
  }
  if (context.duration > 0 && context.duration != AV_NOPTS_VALUE) {
    return {av_rescale_q(context.duration, AV_TIME_BASE_Q, kMediaTimeBase), true};
  }
  return {};
}

}  // namespace

std::array<uint8_t, kBitmapHeaderBytes> GrabberType::BitmapInfoHeader() const {
  std::array<uint8_t, kBitmapHeaderBytes> bytes{};
  const std::span<uint8_t, kBitmapHeaderBytes> out(bytes);
  StoreU32(out.subspan<0, 4>(), static_cast<uint32_t>(kBitmapHeaderBytes));
  StoreU32(out.subspan<4, 4>(), static_cast<uint32_t>(width));
  StoreU32(out.subspan<8, 4>(), static_cast<uint32_t>(height));
  StoreU16(out.subspan<12, 2>(), 1);
  StoreU16(out.subspan<14, 2>(), 24);
  StoreU32(out.subspan<16, 4>(), 0);
  StoreU32(out.subspan<20, 4>(), sampleSize);
  return bytes;
}

struct MediaGraph::Graph {
  std::string path;
  GraphLimits limits;
  std::unique_ptr<VideoDecoder> decoder;
  std::unique_ptr<PictureConverter> converter;
  GrabberType type;
  VideoSize storedSize;
  Rotation rotation = Rotation::kNone;
  AVRational rate{0, 1};  // frames per second, exactly as the frame time format counts them
  Lengths duration;
  StatedLength stated;
  std::optional<SourceFormat> sourceFormat;  // the first opening's reader, for every later one

  int64_t packetsDecoded = 0;  // by decoders closed since rendering

  std::optional<DecodedPicture> onScreen;
  std::optional<DecodedPicture> ahead;  // the picture after the one on screen, once decoded
  bool endOfPictures = false;           // nothing after `ahead`'s place

  GraphState state = GraphState::kStopped;
  int64_t clock = 0;  // media time
  bool clockFromStep = false;
  int64_t stopFrame = 0;
  std::optional<GraphEvent> pending;
  int32_t volume = 0;

  int64_t FrameTime(int64_t frame) const {
    return av_rescale_q_rnd(frame, av_inv_q(rate), kMediaTimeBase, AV_ROUND_UP);
  }
  int64_t FrameAt(int64_t time, AVRounding rounding) const {
    return av_rescale_q_rnd(time, kMediaTimeBase, av_inv_q(rate), rounding);
  }
  int64_t ToMediaTime(int64_t position, TimeFormat format) const {
    return format == TimeFormat::kFrame ? FrameTime(position) : position;
  }
  int64_t Slack() const { return std::min(kOneMillisecond, type.avgTimePerFrame / 4); }
  int64_t StopTime() const { return FrameTime(stopFrame); }

  Status OpenDecoder() {
    DecoderLimits decoderLimits{limits.quietFor, limits.packetsWithoutPicture, limits.decoderThreads, sourceFormat,
                                limits.pictureMemory};
    auto opened = VideoDecoder::Open(path, decoderLimits);
    if (!opened) return opened.error();
    if (decoder) packetsDecoded += decoder->PacketsDecoded();
    decoder = std::move(*opened);
    if (!sourceFormat) sourceFormat = decoder->Source().Format();
    onScreen.reset();
    ahead.reset();
    endOfPictures = false;
    return {};
  }

  // Decodes the picture after the one on screen, unless it is decoded already or there is none.
  Status Peek() {
    if (ahead || endOfPictures) return {};
    auto next = decoder->Next();
    if (!next) return next.error();
    if (*next) {
      ahead = std::move(*next);
    } else {
      endOfPictures = true;
    }
    return {};
  }

  // The picture on screen with its frame: one passed over undecoded is decoded again from the
  // start, without passing anything over.
  Status Realise() {
    if (!onScreen || onScreen->frame) return {};
    const int64_t index = onScreen->index;
    if (Status reopened = OpenDecoder(); !reopened) return reopened;
    while (true) {
      if (Status peeked = Peek(); !peeked) return peeked;
      if (!ahead) return MakeError(ErrorKind::kDamaged, path, "its video has no picture " + std::to_string(index) + " on decoding again");
      Advance();
      if (onScreen->index >= index) return {};
    }
  }

  void Advance() {
    onScreen = std::move(ahead);
    ahead.reset();
  }

  // Makes the picture on screen the last one that starts by `time` (the first one when none
  // does yet).
  Status Cue(int64_t time) {
    const int64_t until = time + Slack();
    if (onScreen && onScreen->index > 0 && onScreen->time > until) {
      // Backwards: the stream is decoded again from its start.
      if (Status reopened = OpenDecoder(); !reopened) return reopened;
    }
    if (!onScreen) {
      if (Status peeked = Peek(); !peeked) return peeked;
      if (!ahead) return MakeError(ErrorKind::kDamaged, path, "its video has no picture that can be decoded");
      Advance();
    }
    while (true) {
      if (Status peeked = Peek(); !peeked) return peeked;
      if (!ahead || ahead->time > until) return {};
      Advance();
    }
  }

  Status Build() {
    if (Status opened = OpenDecoder(); !opened) return opened;
    const AVStream& stream = decoder->Stream();
    if (Status first = Cue(0); !first) return first;
    storedSize = {onScreen->frame->width, onScreen->frame->height};
    if (storedSize.width <= 0 || storedSize.height <= 0 || storedSize.width > kMaxPictureSide ||
        storedSize.height > kMaxPictureSide) {
      return MakeError(ErrorKind::kUnsupported, path,
                       "its pictures are " + std::to_string(storedSize.width) + " x " +
                           std::to_string(storedSize.height) + ", outside what the converter takes");
    }
    rotation = StreamRotation(stream);
    const UprightSize upright = TurnedSize(storedSize.width, storedSize.height, rotation);
    type.width = upright.width;
    type.height = upright.height;
    type.sampleSize = PaddedRowBytes(upright.width) * static_cast<uint32_t>(upright.height);
    converter = std::make_unique<PictureConverter>(storedSize.width, storedSize.height, rotation);
    if (Status lengths = MeasureLengths(); !lengths) return lengths;
    stopFrame = duration.frames - 1;
    clock = 0;
    return {};
  }

  Status MeasureLengths() {
    const AVStream& stream = decoder->Stream();
    stated = StatedMediaTime(*decoder->Source().Context(), stream);
    duration.mediaTime = stated.mediaTime;
    duration.frames = stream.nb_frames > 0 && stream.nb_frames <= kMostFrames ? stream.nb_frames : 0;
    if (duration.frames == 0) {
      // Without a sample table the stated duration is an estimate too (a program stream's comes
      // from a few time stamps near its ends, an Ogg file's from its last page, a Matroska file's
      // covers its sound as well and may be plainly wrong): the video's own packets say better, and
      // the frame count and the span then describe the same pictures.
      if (const auto counted = CountVideoPackets(path, limits, sourceFormat)) {
        duration.frames = counted->frames;
        if (counted->mediaTime > 0) duration.mediaTime = counted->mediaTime;
      }
    }
    rate = DeclaredFrameRate(stream);
    if (!Valid(rate) && duration.frames > 0 && duration.mediaTime > 0) {
      av_reduce(&rate.num, &rate.den, duration.frames * kMediaTimePerSecond, duration.mediaTime,
                std::numeric_limits<int>::max());
    }
    if (!Valid(rate)) return MakeError(ErrorKind::kDamaged, path, "its video has no readable frame rate");
    type.avgTimePerFrame = av_rescale_q(1, av_inv_q(rate), kMediaTimeBase);
    if (type.avgTimePerFrame <= 0) return MakeError(ErrorKind::kUnsupported, path, "its frame rate is too high");
    if (duration.frames <= 0 && duration.mediaTime > 0) duration.frames = duration.mediaTime / type.avgTimePerFrame;
    if (duration.mediaTime <= 0 && duration.frames > 0 &&
        duration.frames <= std::numeric_limits<int64_t>::max() / type.avgTimePerFrame) {
      duration.mediaTime = duration.frames * type.avgTimePerFrame;
    }
    if (duration.frames <= 0 || duration.mediaTime <= 0) {
      return MakeError(ErrorKind::kDamaged, path, "its video has no readable duration or frame count");
    }
    return {};
  }
};

Result<MediaGraph> MediaGraph::Render(const std::string& path, const GraphLimits& limits) {
  auto graph = std::make_unique<Graph>();
  graph->path = path;
  graph->limits = limits;
  if (Status built = graph->Build(); !built) return built.error();
  return MediaGraph(std::move(graph));
}

MediaGraph::MediaGraph(std::unique_ptr<Graph> graph) : graph_(std::move(graph)) {}
MediaGraph::MediaGraph(MediaGraph&&) noexcept = default;
MediaGraph& MediaGraph::operator=(MediaGraph&&) noexcept = default;
MediaGraph::~MediaGraph() = default;

const std::string& MediaGraph::Path() const { return graph_->path; }
const std::optional<SourceFormat>& MediaGraph::Format() const { return graph_->sourceFormat; }
const GrabberType& MediaGraph::ConnectedType() const { return graph_->type; }
VideoSize MediaGraph::NativeVideoSize() const { return {graph_->type.width, graph_->type.height}; }
GraphState MediaGraph::State() const { return graph_->state; }
int64_t MediaGraph::CurrentPictureIndex() const { return graph_->onScreen ? graph_->onScreen->index : 0; }
bool MediaGraph::EndOfPictures() const {
  const Graph& graph = *graph_;
  return graph.endOfPictures && !graph.ahead && graph.onScreen &&
         graph.clock >= graph.onScreen->time + graph.type.avgTimePerFrame;
}
int32_t MediaGraph::Volume() const { return graph_->volume; }

void MediaGraph::KeepOnly(int64_t step) { graph_->decoder->KeepOnly(step); }
int64_t MediaGraph::PacketsDecoded() const { return graph_->packetsDecoded + graph_->decoder->PacketsDecoded(); }

std::optional<int64_t> MediaGraph::StartTime() const {
  const VideoDecoder& decoder = *graph_->decoder;
  const std::optional<int64_t> stamp = decoder.FirstTimeStamp();
  if (!stamp) return std::nullopt;
  return av_rescale_q(*stamp, decoder.Stream().time_base, kMediaTimeBase);
}

int64_t MediaGraph::Duration(TimeFormat format) const {
  return format == TimeFormat::kFrame ? graph_->duration.frames : graph_->duration.mediaTime;
}

StatedLength MediaGraph::StatedDuration() const { return graph_->stated; }

int64_t MediaGraph::CurrentPosition(TimeFormat format) const {
  const Graph& graph = *graph_;
  if (format == TimeFormat::kMediaTime) return graph.clock;
  return graph.FrameAt(graph.clock, graph.clockFromStep ? AV_ROUND_NEAR_INF : AV_ROUND_DOWN);
}

int64_t MediaGraph::StopPosition(TimeFormat format) const {
  return format == TimeFormat::kFrame ? graph_->stopFrame : graph_->StopTime();
}

Status MediaGraph::SetPositions(int64_t current, std::optional<int64_t> stop, TimeFormat format) {
  Graph& graph = *graph_;
  if (current < 0 || (stop && *stop < 0)) {
    return MakeError(ErrorKind::kUsage, graph.path, "a position before the start of the video");
  }
  if (stop) {
    const int64_t stopFrame = format == TimeFormat::kFrame ? *stop : graph.FrameAt(*stop, AV_ROUND_DOWN);
    graph.stopFrame = std::min(stopFrame, graph.duration.frames - 1);
  }
  const int64_t time = std::min(graph.ToMediaTime(current, format), graph.FrameTime(graph.duration.frames - 1));
  graph.pending.reset();
  graph.clock = time;
  graph.clockFromStep = false;
  return graph.Cue(time);
}

Status MediaGraph::Run() {
  graph_->state = GraphState::kRunning;
  return {};
}

Status MediaGraph::Pause() {
  graph_->state = GraphState::kPaused;
  return {};
}

Status MediaGraph::RunUntil(int64_t position, TimeFormat format) {
  Graph& graph = *graph_;
  if (graph.state != GraphState::kRunning) {
    return MakeError(ErrorKind::kUsage, graph.path, "the clock moves only while the graph runs");
  }
  int64_t target = graph.ToMediaTime(position, format);
  if (target < graph.clock) return MakeError(ErrorKind::kUsage, graph.path, "a running clock does not go back");
  graph.pending.reset();
  if (target >= graph.StopTime()) {
    target = graph.StopTime();
    graph.pending = GraphEvent::kComplete;
  }
  graph.clock = target;
  graph.clockFromStep = false;
  return graph.Cue(target);
}

Status MediaGraph::Step() {
  Graph& graph = *graph_;
  graph.state = GraphState::kPaused;
  if (Status peeked = graph.Peek(); !peeked) return peeked;
  if (!graph.ahead || graph.FrameAt(graph.ahead->time, AV_ROUND_NEAR_INF) > graph.stopFrame) {
    graph.pending = GraphEvent::kComplete;
    return {};
  }
  graph.Advance();
  graph.clock = graph.onScreen->time;
  graph.clockFromStep = true;
  graph.pending = GraphEvent::kStepComplete;
  return {};
}

Result<GraphEvent> MediaGraph::WaitForCompletion(std::chrono::milliseconds /*timeout*/) {
  Graph& graph = *graph_;
  if (!graph.pending) return MakeError(ErrorKind::kTimedOut, graph.path, "the graph has nothing under way to complete");
  const GraphEvent event = *graph.pending;
  graph.pending.reset();
  return event;
}

Result<std::vector<uint8_t>> MediaGraph::GetCurrentBuffer(uint32_t leadingBytes) {
  Graph& graph = *graph_;
  if (Status real = graph.Realise(); !real) return real.error();
  if (!graph.onScreen) return MakeError(ErrorKind::kDamaged, graph.path, "no picture is on screen");
  std::vector<uint8_t> buffer;
  buffer.reserve(std::size_t{leadingBytes} + graph.type.sampleSize);
  buffer.resize(leadingBytes, 0);
  if (!graph.converter->Convert(*graph.onScreen->frame, buffer) ||
      buffer.size() != std::size_t{leadingBytes} + graph.type.sampleSize) {
    return MakeError(ErrorKind::kUnsupported, graph.path,
                     "picture " + std::to_string(graph.onScreen->index) + " cannot be converted to 24-bit RGB");
  }
  return buffer;
}

Result<GrabbedPicture> MediaGraph::GrabCurrentPicture() {
  Graph& graph = *graph_;
  if (Status real = graph.Realise(); !real) return real.error();
  if (!graph.onScreen) return MakeError(ErrorKind::kDamaged, graph.path, "no picture is on screen");
  const AVFrame& onScreen = *graph.onScreen->frame;
  if (!PictureConverter::Takes(onScreen)) {
    return MakeError(ErrorKind::kUnsupported, graph.path,
                     "picture " + std::to_string(graph.onScreen->index) + " cannot be converted to 24-bit RGB");
  }
  auto contents = std::make_unique<GrabbedPicture::Contents>();
  contents->frame.reset(av_frame_clone(&onScreen));
  if (!contents->frame) return MakeError(ErrorKind::kOutOfMemory, graph.path, "out of memory");
  contents->index = graph.onScreen->index;
  contents->storedWidth = graph.storedSize.width;
  contents->storedHeight = graph.storedSize.height;
  contents->rotation = graph.rotation;
  contents->sampleSize = graph.type.sampleSize;
  contents->path = graph.path;
  return GrabbedPicture(std::move(contents));
}

Status MediaGraph::PutVolume(int32_t volume) {
  if (volume < kSilentVolume || volume > 0) {
    return MakeError(ErrorKind::kUsage, graph_->path, "a volume outside -10000 to 0");
  }
  graph_->volume = volume;
  return {};
}

}  // namespace reel
