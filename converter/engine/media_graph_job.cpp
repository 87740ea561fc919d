// The media-framework job: any video file the media graph renders, read in frame sync (the paused
// graph stepped N pictures at a time) or time sync (the graph run to each kept frame's time),
// then its soundtrack as an MP3 or Ogg companion.
//
// Everything that refuses the job (a file the graph cannot render, no length, a rate of 0, an
// output over the source) is checked before anything is written. A stream that ends before its
// stated length costs repeated frames and a warning; a wait that runs out ends the job, and its
// unfinished outputs go with it.
#include <string>
#include <utility>

#include "common/byte_io.h"
#include "converter/audio/soundtrack_extraction.h"
#include "converter/engine/sound_task.h"
#include "converter/engine/job_run.h"
#include "platform/mediagraph/media_graph.h"

namespace reel {
namespace {

// Longest wait for one step of the graph.
constexpr std::chrono::milliseconds kStepWait{10000};

uint32_t FixedRate(FrameRateOverride rate) {
  switch (rate) {
    case FrameRateOverride::k30: return 30;
    case FrameRateOverride::k24: return 24;
    case FrameRateOverride::k15: return 15;
    default: return 0;
  }
}

// Takes the pictures of one movie from the graph, in order, one call per output frame.
class GraphPictures {
 public:
  GraphPictures(MediaGraph& graph, bool stepped, uint32_t step, uint32_t frameCount)
      : graph_(graph), stepped_(stepped), step_(step), frameCount_(frameCount) {}

  // The picture of output frame k, none when the video ended before it (the frame before it
  // repeats). Throws PictureSourceFailure when a wait runs out or the last frame comes without
  // any picture taken.
  std::optional<BmpImage> operator()(uint32_t k) {
    std::optional<BmpImage> picture;
    if (!ended_ && MoveTo(k)) picture = Grab();
    if (picture) ++taken_;
    if (k + 1 == frameCount_ && taken_ == 0) {
      throw PictureSourceFailure{MakeError(ErrorKind::kDamaged, graph_.Path(), "no picture of its video could be taken")};
    }
    return picture;
  }

 private:
  // Brings the graph to output frame k's picture; false when the video ended on the way.
  bool MoveTo(uint32_t k) {
    if (stepped_) {
      for (uint32_t i = 0; i < step_; ++i) {
        if (!Settle(graph_.Step())) return false;
        const Result<GraphEvent> event = graph_.WaitForCompletion(kStepWait);
        if (!event) Fail(event.error());
        if (*event == GraphEvent::kComplete) return End();
      }
      return true;
    }
    if (!Settle(graph_.Run())) return false;
    if (!Settle(graph_.RunUntil(MediaSourceFrameFor(k, step_, false)))) return false;
    if (!Settle(graph_.Pause())) return false;
    if (graph_.EndOfPictures()) return End();
    return true;
  }

  // A step or run that failed: a wait that ran out ends the job, anything else ends the video.
  bool Settle(const Status& status) {
    if (status) return true;
    if (status.error().kind == ErrorKind::kTimedOut) Fail(status.error());
    return End();
  }

  bool End() {
    ended_ = true;
    return false;
  }

  [[noreturn]] void Fail(const Error& error) { throw PictureSourceFailure{error}; }

  std::optional<BmpImage> Grab() {
    Result<std::vector<uint8_t>> bytes = graph_.GetCurrentBuffer(BmpImage::kHeaderSize);
    if (!bytes) {
      if (bytes.kind() == ErrorKind::kTimedOut) Fail(bytes.error());
      return std::nullopt;
    }
    std::span<uint8_t> header(*bytes);
    header[0] = 'B';
    header[1] = 'M';
    StoreU32(header.subspan<2, 4>(), static_cast<uint32_t>(bytes->size()));
    StoreU32(header.subspan<10, 4>(), BmpImage::kHeaderSize);
    const auto info = graph_.ConnectedType().BitmapInfoHeader();
    std::copy(info.begin(), info.end(), bytes->begin() + 14);
    return BmpImage::FromBytes(std::move(*bytes));
  }

  MediaGraph& graph_;
  bool stepped_;
  uint32_t step_;
  uint32_t frameCount_;
  bool ended_ = false;
  uint32_t taken_ = 0;
};

}  // namespace

Status CWavFileMake::Run::RunMediaGraph() {
  job_.framesDone.store(0);
  job_.framesTotal.store(0);
  Result<MediaGraph> rendered = MediaGraph::Render(settings_.sourcePath);
  if (!rendered) return rendered.error();
  MediaGraph& graph = *rendered;
  const MediaLength length{graph.Duration(TimeFormat::kMediaTime), graph.Duration(TimeFormat::kFrame),
                           graph.ConnectedType().avgTimePerFrame};
  const uint32_t fixedRate = settings_.forceDirectShow ? 0 : FixedRate(settings_.frameRateOverride);
  const Result<MediaFrameTiming> timing = ComputeMediaFrameTiming(length, fixedRate, settings_.frameRateChoice);
  if (!timing) return SourceError(timing.kind(), timing.error().message);
  job_.sourceRate.store(static_cast<int32_t>(timing->sourceRate));

  const VideoSize native = graph.NativeVideoSize();
  const auto size = FitBoxFromHeader(BoxForChoice(settings_.pictureSizeChoice),
                                     {static_cast<uint32_t>(native.width), static_cast<uint32_t>(native.height)});
  if (!size) return SourceError(ErrorKind::kDamaged, "its video has a picture size of 0");
  if (size->height > BmpImage::kMaxDimension) {
    return SourceError(ErrorKind::kUnsupported, "its picture is too narrow for its height to fit a movie");
  }
  const std::optional<const char*> companion = CompanionExtension(settings_.encoderChoice);
  if (Status free = RefuseOutputOverSource(".qrx"); !free) return free;
  if (companion) {
    if (Status free = RefuseOutputOverSource(*companion); !free) return free;
  }

  const bool stepped = settings_.playbackMode != PlaybackMode::kTimeSync;
  const int64_t lastFrame = timing->sourceFrames - 1;
  if (Status muted = graph.PutVolume(kSilentVolume); !muted) return muted;
  if (Status placed = graph.SetPositions(0, lastFrame); !placed) return placed;
  if (stepped) {
    if (Status ran = graph.Run(); !ran) return ran;
    if (Status paused = graph.Pause(); !paused) return paused;
    if (Status placed = graph.SetPositions(0, lastFrame); !placed) return placed;
  }
  // The soundtrack is encoded on the sound task while the frames are coded; its companion is taken
  // once the movie is done.
  SoundTask sound([this] { return JobStopped(); });
  const SoundTask::Work makeCompanion = [this](const SoundTask::StopCheck& stopped) { return MediaCompanion(stopped); };
  if (SoundOverlaps()) sound.Start(makeCompanion, true);
  GraphPictures pictures(graph, stepped, timing->step, timing->frameCount);
  const Status movie = WriteMovie(timing->AsFrameTiming(), size, std::ref(pictures), nullptr);
  if (!movie) return movie;  // the sound task stops with the run
  job_.CheckKilled();
  if (!sound.Running()) sound.Start(makeCompanion, false);
  return TakeCompanion(sound);
}

}  // namespace reel
