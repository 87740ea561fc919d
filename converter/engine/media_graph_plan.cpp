// The media-framework plan: any video file the media graph renders, read in frame sync (the paused
// graph stepped N pictures at a time) or time sync (the graph run to each kept frame's time),
// then its soundtrack as an MP3 or Ogg companion.
//
// A stream that ends before its stated length costs repeated frames and a warning; a wait that
// runs out ends the job, and its unfinished outputs go with it.
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/byte_io.h"
#include "converter/audio/soundtrack_extraction.h"
#include "converter/engine/companion_writing.h"
#include "converter/engine/converter_pool.h"
#include "converter/engine/job_plan.h"
#include "converter/engine/scaled_conversion.h"
#include "converter/engine/spare_pictures.h"
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

// The picture's bytes, fetched with room for the headers in front, as a BMP file image.
std::optional<BmpImage> WrapRows(std::vector<uint8_t> bytes, const GrabberType& type) {
  std::span<uint8_t> header(bytes);
  header[0] = 'B';
  header[1] = 'M';
  StoreU32(header.subspan<2, 4>(), static_cast<uint32_t>(bytes.size()));
  StoreU32(header.subspan<10, 4>(), BmpImage::kHeaderSize);
  const auto info = type.BitmapInfoHeader();
  std::copy(info.begin(), info.end(), bytes.begin() + 14);
  return BmpImage::FromBytes(std::move(bytes));
}

using GraphConverters = ConverterPool<GrabbedPictureConverter>;

// A picture grabbed from the graph, converted on the thread that codes it: into the bytes of a
// picture coded earlier, or straight into the scaler.
class LateGraphPicture : public SourcePicture::Late {
 public:
  LateGraphPicture(GrabbedPicture picture, GrabberType type, std::shared_ptr<GraphConverters> converters,
                   std::shared_ptr<SparePictures> spares)
      : picture_(std::move(picture)), type_(type), converters_(std::move(converters)), spares_(std::move(spares)) {}

  std::optional<BmpImage> Make() override {
    GrabbedPictureConverter converter = converters_->Borrow();
    Result<std::vector<uint8_t>> bytes = converter.Convert(picture_, BmpImage::kHeaderSize, spares_->Take());
    converters_->GiveBack(std::move(converter));
    if (!bytes) return std::nullopt;
    return WrapRows(std::move(*bytes), type_);
  }

  bool MakesScaled(uint32_t width, uint32_t height) const override { return ConvertsScaled(picture_, width, height); }

  std::optional<BmpImage> MakeScaled(uint32_t width, uint32_t height) override {
    GrabbedPictureConverter converter = converters_->Borrow();
    std::optional<BmpImage> scaled = ConvertScaled(converter, picture_, width, height);
    converters_->GiveBack(std::move(converter));
    return scaled;
  }

 private:
  GrabbedPicture picture_;
  GrabberType type_;
  std::shared_ptr<GraphConverters> converters_;
  std::shared_ptr<SparePictures> spares_;
};

// Takes the pictures of one movie from the graph, in order, one call per output frame.
class GraphPictures {
 public:
  GraphPictures(std::shared_ptr<MediaGraph> graph, bool stepped, uint32_t step, uint32_t frameCount)
      : graph_(*graph), owner_(std::move(graph)), stepped_(stepped), step_(step), frameCount_(frameCount) {}

  // The picture of output frame k, none when the video ended before it (the frame before it
  // repeats). An error when a wait runs out or the last frame comes without any picture taken.
  Result<std::optional<BmpImage>> Picture(uint32_t k) { return Take(k, &GraphPictures::Grab); }
  // The same picture, its colour conversion left to the thread that takes it.
  Result<std::optional<SourcePicture>> LatePicture(uint32_t k) { return Take(k, &GraphPictures::GrabLate); }
  // Takes back the bytes of a picture that has been coded, for a late picture to be made in.
  void GiveBack(BmpImage picture) { spares_->GiveBack(std::move(picture)); }

 private:
  template <typename Picture>
  using Grabber = Result<std::optional<Picture>> (GraphPictures::*)();

  template <typename Picture>
  Result<std::optional<Picture>> Take(uint32_t k, Grabber<Picture> grab) {
    Result<std::optional<Picture>> picture = Reach(k, grab);
    if (!picture) return picture;
    if (*picture) ++taken_;
    if (k + 1 == frameCount_ && taken_ == 0) {
      return MakeError(ErrorKind::kDamaged, graph_.Path(), "no picture of its video could be taken");
    }
    return picture;
  }

  template <typename Picture>
  Result<std::optional<Picture>> Reach(uint32_t k, Grabber<Picture> grab) {
    if (ended_) return std::optional<Picture>();
    const Result<bool> moved = MoveTo(k);
    if (!moved) return moved.error();
    if (!*moved) return std::optional<Picture>();
    return (this->*grab)();
  }

  // Brings the graph to output frame k's picture; false when the video ended on the way.
  Result<bool> MoveTo(uint32_t k) {
    if (stepped_) {
      for (uint32_t i = 0; i < step_; ++i) {
        const Result<bool> stepped = Settle(graph_.Step());
        if (!stepped || !*stepped) return stepped;
        const Result<GraphEvent> event = graph_.WaitForCompletion(kStepWait);
        if (!event) return event.error();
        if (*event == GraphEvent::kComplete) return End();
      }
      return true;
    }
    const Result<bool> ran = Settle(graph_.Run());
    if (!ran || !*ran) return ran;
    const Result<bool> reached = Settle(graph_.RunUntil(MediaSourceFrameFor(k, step_, false)));
    if (!reached || !*reached) return reached;
    const Result<bool> paused = Settle(graph_.Pause());
    if (!paused || !*paused) return paused;
    if (graph_.EndOfPictures()) return End();
    return true;
  }

  // A step or run that failed: a wait that ran out ends the job, anything else ends the video.
  Result<bool> Settle(const Status& status) {
    if (status) return true;
    if (status.error().kind == ErrorKind::kTimedOut) return status.error();
    return End();
  }

  bool End() {
    ended_ = true;
    return false;
  }

  Result<std::optional<BmpImage>> Grab() {
    Result<std::vector<uint8_t>> bytes = graph_.GetCurrentBuffer(BmpImage::kHeaderSize);
    if (!bytes) {
      if (bytes.kind() == ErrorKind::kTimedOut) return bytes.error();
      return std::optional<BmpImage>();
    }
    return WrapRows(std::move(*bytes), graph_.ConnectedType());
  }

  Result<std::optional<SourcePicture>> GrabLate() {
    Result<GrabbedPicture> grabbed = graph_.GrabCurrentPicture();
    if (!grabbed) {
      if (grabbed.kind() == ErrorKind::kTimedOut) return grabbed.error();
      return std::optional<SourcePicture>();
    }
    return std::optional<SourcePicture>(SourcePicture(
        std::make_unique<LateGraphPicture>(std::move(*grabbed), graph_.ConnectedType(), converters_, spares_)));
  }

  MediaGraph& graph_;
  std::shared_ptr<MediaGraph> owner_;
  bool stepped_;
  uint32_t step_;
  uint32_t frameCount_;
  bool ended_ = false;
  uint32_t taken_ = 0;
  std::shared_ptr<GraphConverters> converters_ =
      std::make_shared<GraphConverters>([] { return GrabbedPictureConverter(); });
  std::shared_ptr<SparePictures> spares_ = std::make_shared<SparePictures>();
};

// Where the movie's first picture lies on the source's timeline, for the companion to begin there.
// Frame sync steps before it grabs, so its first picture is source picture N (one step on); time
// sync grabs the picture on screen at frame 0.
std::optional<int64_t> FirstMoviePictureTime(const MediaGraph& graph, bool stepped, uint32_t step) {
  std::optional<int64_t> start = graph.StartTime();
  if (start && stepped) *start += int64_t{step} * graph.ConnectedType().avgTimePerFrame;
  return start;
}

// Seconds with three decimals, for a report.
std::string Seconds(int64_t mediaTime) {
  const int64_t milliseconds = (mediaTime + kMediaTimePerSecond / 2000) / (kMediaTimePerSecond / 1000);
  std::string fraction = std::to_string(milliseconds % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(milliseconds / 1000) + "." + fraction + " s";
}

// A length the file states that its pictures do not bear out by more than a frame: the measured
// one is used, and the report says so. A length stated for the whole file covers the sound as well,
// which may outlast the pictures a little: it is doubted only when it is shorter than the pictures,
// or longer by more than a second.
std::optional<std::string> LengthWarning(const MediaGraph& graph) {
  constexpr int64_t kSoundMayOutlast = kMediaTimePerSecond;
  const StatedLength stated = graph.StatedDuration();
  const int64_t measured = graph.Duration(TimeFormat::kMediaTime);
  const int64_t frame = graph.ConnectedType().avgTimePerFrame;
  if (stated.mediaTime <= 0) return std::nullopt;
  const int64_t longer = stated.wholeFile ? frame + kSoundMayOutlast : frame;
  if (stated.mediaTime >= measured - frame && stated.mediaTime <= measured + longer) return std::nullopt;
  return std::string(stated.wholeFile ? "the file" : "the video") + " states a length of " + Seconds(stated.mediaTime) + ", but its " +
         std::to_string(graph.Duration(TimeFormat::kFrame)) + " pictures last " + Seconds(measured) +
         "; the pictures' length is used";
}

}  // namespace

// The paused graph is placed on the first frame (frame sync) or ready to run (time sync), silent.
Status PrepareGraph(MediaGraph& graph, int64_t lastFrame, bool stepped) {
  if (Status muted = graph.PutVolume(kSilentVolume); !muted) return muted;
  if (Status placed = graph.SetPositions(0, lastFrame); !placed) return placed;
  if (!stepped) return {};
  if (Status ran = graph.Run(); !ran) return ran;
  if (Status paused = graph.Pause(); !paused) return paused;
  return graph.SetPositions(0, lastFrame);
}

Result<JobPlan> OpenMediaGraphPlan(const JobSettings& settings) {
  // The job's other threads need the processors too: see DecoderThreads::kFitted.
  GraphLimits limits;
  limits.decoderThreads = DecoderThreads::kFitted;
  Result<MediaGraph> rendered = MediaGraph::Render(settings.sourcePath, limits);
  if (!rendered) return rendered.error();
  const auto graph = std::make_shared<MediaGraph>(std::move(*rendered));
  const MediaLength length{graph->Duration(TimeFormat::kMediaTime), graph->Duration(TimeFormat::kFrame),
                           graph->ConnectedType().avgTimePerFrame};
  const uint32_t fixedRate = settings.forceDirectShow ? 0 : FixedRate(settings.frameRateOverride);
  const Result<MediaFrameTiming> timing = ComputeMediaFrameTiming(length, fixedRate, settings.frameRateChoice);
  if (!timing) return SourceError(settings, timing.kind(), timing.error().message);
  JobPlan plan;
  plan.sourceRate = timing->sourceRate;
  if (std::optional<std::string> warning = LengthWarning(*graph)) plan.warnings.push_back(std::move(*warning));

  const VideoSize native = graph->NativeVideoSize();
  const auto size = FitBoxFromHeader(BoxForChoice(settings.pictureSizeChoice),
                                     {static_cast<uint32_t>(native.width), static_cast<uint32_t>(native.height)});
  if (!size) return SourceError(settings, ErrorKind::kDamaged, "its video has a picture size of 0");
  const PictureSize nativeSize{static_cast<uint32_t>(native.width), static_cast<uint32_t>(native.height)};
  if (Status shown = RefuseUnshownMovie(settings, nativeSize, *size); !shown) return shown.error();
  plan.outputs.emplace_back(".qrx");
  if (const std::optional<const char*> companion = CompanionExtension(settings.encoderChoice)) {
    plan.outputs.emplace_back(*companion);
  }

  const bool stepped = settings.playbackMode != PlaybackMode::kTimeSync;
  if (Status prepared = PrepareGraph(*graph, timing->sourceFrames - 1, stepped); !prepared) return prepared.error();
  // Frame sync grabs every N-th picture from N on and never moves back: the pictures between that
  // nothing is built from need not be decoded.
  if (stepped) graph->KeepOnly(timing->step);
  const auto pictures = std::make_shared<GraphPictures>(graph, stepped, timing->step, timing->frameCount);
  MovieStep movie{timing->AsFrameTiming(), size, nullptr, [pictures](uint32_t k) { return pictures->Picture(k); }};
  movie.latePicture = [pictures](uint32_t k) { return pictures->LatePicture(k); };
  movie.giveBack = [pictures](BmpImage picture) { pictures->GiveBack(std::move(picture)); };
  plan.steps.emplace_back(std::move(movie));
  const std::optional<int64_t> soundStart = FirstMoviePictureTime(*graph, stepped, timing->step);
  plan.steps.emplace_back(CompanionStep{[settings, soundStart, format = graph->Format()](const SoundTask::StopCheck& stopped) {
    return MediaCompanion(settings, soundStart, format, stopped);
  }});
  return plan;
}

}  // namespace reel
