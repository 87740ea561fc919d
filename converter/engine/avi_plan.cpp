// The AVI plan: a step for each stream in file order, a movie for a video stream and a companion
// for a sound stream. The file is opened once; its own demuxer serves the first video stream's
// frames, and the companions read the sound streams beside it.
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/byte_io.h"
#include "converter/engine/companion_writing.h"
#include "converter/engine/converter_pool.h"
#include "converter/engine/job_plan.h"
#include "converter/engine/scaled_conversion.h"
#include "converter/engine/spare_pictures.h"
#include "platform/acm/wave_format.h"
#include "platform/avifile/avi_file.h"
#include "platform/avifile/avi_frame_reader.h"

namespace reel {
namespace {

constexpr uint32_t kBmpFileHeaderSize = 14;
constexpr long double kTimeUnitsPerSecond = 10'000'000;
// A stream said to start more than this late has a broken header, not a late start.
constexpr uint64_t kFarthestStart = 3600 * 10'000'000ULL;

// A packed DIB from the AVI layer, fetched with room in front, as a BMP file image: the file
// header goes into that room.
std::optional<BmpImage> WrapDib(std::optional<std::vector<uint8_t>> bytes) {
  if (!bytes || bytes->size() < kBmpFileHeaderSize + kBitmapInfoHeaderSize) return std::nullopt;
  std::span<uint8_t> header(*bytes);
  header[0] = 'B';
  header[1] = 'M';
  StoreU32(header.subspan<2, 4>(), static_cast<uint32_t>(bytes->size()));
  StoreU32(header.subspan<10, 4>(), BmpImage::kHeaderSize);
  StoreU32(header.subspan<14, 4>(), kBitmapInfoHeaderSize);
  return BmpImage::FromBytes(std::move(*bytes));
}

using DibConverters = ConverterPool<AviFrameConverter>;

// A picture grabbed from the frame reader, converted on the thread that codes it: to a DIB in the
// bytes of a picture coded earlier, or straight into the scaler.
class LateDib : public SourcePicture::Late {
 public:
  LateDib(AviGrabbedFrame frame, std::shared_ptr<DibConverters> converters, std::shared_ptr<SparePictures> spares)
      : frame_(std::move(frame)), converters_(std::move(converters)), spares_(std::move(spares)) {}

  std::optional<BmpImage> Make() override {
    AviFrameConverter converter = converters_->Borrow();
    std::optional<std::vector<uint8_t>> dib = converter.Convert(frame_, kBmpFileHeaderSize, spares_->Take());
    converters_->GiveBack(std::move(converter));
    return WrapDib(std::move(dib));
  }

  bool MakesScaled(uint32_t width, uint32_t height) const override { return ConvertsScaled(frame_, width, height); }

  std::optional<BmpImage> MakeScaled(uint32_t width, uint32_t height) override {
    AviFrameConverter converter = converters_->Borrow();
    std::optional<BmpImage> scaled = ConvertScaled(converter, frame_, width, height);
    converters_->GiveBack(std::move(converter));
    return scaled;
  }

 private:
  AviGrabbedFrame frame_;
  std::shared_ptr<DibConverters> converters_;
  std::shared_ptr<SparePictures> spares_;
};

PictureSize FormatPictureSize(std::span<const uint8_t> bitmapInfo) {
  if (bitmapInfo.size() < kBitmapInfoHeaderSize) return {};
  const auto height = static_cast<int32_t>(LoadU32(bitmapInfo.subspan<8, 4>()));
  return {LoadU32(bitmapInfo.subspan<4, 4>()), static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height)};
}

std::optional<FrameTiming> StreamTiming(const AviStreamInfo& info, FrameRateChoice choice) {
  return ComputeFrameTiming(AviSourceRate(info.scale, info.rate), info.length, choice);
}

// A stream's header and format block, read before any frame reader takes over the file's demuxer.
struct StreamEntry {
  uint32_t index = 0;
  AviStreamInfo info;
  std::vector<uint8_t> format;
};

// A video stream's movie. The stream's frame reader (none for a movie of no frames) goes with the
// picture source.
Result<MovieStep> VideoStep(const JobSettings& settings, AviFile& file, const StreamEntry& entry) {
  const uint32_t stream = entry.index;
  const AviStreamInfo& info = entry.info;
  if (AviSourceRate(info.scale, info.rate) == 0) {
    return SourceError(settings, ErrorKind::kRefused,
                       "the video stream's rate rounds to 0 frames per second; there is nothing to convert");
  }
  const std::optional<FrameTiming> timing = StreamTiming(info, settings.frameRateChoice);
  if (!timing) return SourceError(settings, ErrorKind::kRefused, "the video stream is too long for one movie");
  std::shared_ptr<AviFrameReader> reader;
  if (timing->frameCount > 0) {
    // The job's other threads need the processors too: see DecoderThreads::kFitted.
    Result<AviFrameReader> opened = file.OpenFrameReader(stream, DecoderThreads::kFitted);
    if (!opened) {
      return SourceError(settings, ErrorKind::kUnsupported, "no decoder for video stream " + std::to_string(stream));
    }
    reader = std::make_shared<AviFrameReader>(std::move(*opened));
  }
  const PictureSize formatSize = FormatPictureSize(entry.format);
  const PictureSize box = BoxForChoice(settings.pictureSizeChoice);
  const uint32_t step = timing->step;
  MovieStep movie{*timing, std::nullopt, nullptr, nullptr};
  movie.fit = [box, formatSize](const std::optional<BmpImage>& first) {
    return FitBoxToSource(box, first ? PictureSize{first->Width(), first->Height()} : formatSize);
  };
  const auto spares = std::make_shared<SparePictures>();
  movie.picture = [reader, step, spares](uint32_t k) -> Result<std::optional<BmpImage>> {
    return WrapDib(reader->GetFrame(SourceFrameFor(k, step), kBmpFileHeaderSize, spares->Take()));
  };
  const auto converters = std::make_shared<DibConverters>([] { return AviFrameConverter(); });
  movie.latePicture = [reader, step, spares, converters](uint32_t k) -> Result<std::optional<SourcePicture>> {
    std::optional<AviGrabbedFrame> frame = reader->GrabFrame(SourceFrameFor(k, step));
    if (!frame) return std::optional<SourcePicture>();
    return std::optional<SourcePicture>(SourcePicture(std::make_unique<LateDib>(std::move(*frame), converters, spares)));
  };
  movie.giveBack = [spares](BmpImage picture) { spares->GiveBack(std::move(picture)); };
  return movie;
}

// Where a stream begins on the file's timeline (its dwStart), in 100-ns units.
uint64_t StreamStartTime(const AviStreamInfo& info) {
  if (info.start == 0 || info.scale == 0 || info.rate == 0) return 0;
  return static_cast<uint64_t>(std::llround(static_cast<long double>(info.start) * info.scale * kTimeUnitsPerSecond / info.rate));
}

// How much later a sound stream begins than the movie's first picture, in 100-ns units. The
// movie's frame k is the video's position k on the file's timeline, so its first picture is at the
// file's time 0 whatever the video's own start (a video that starts later shows its first picture
// until then): the sound's lead is its own start.
uint64_t SoundLead(const AviStreamInfo& sound) {
  const uint64_t lead = StreamStartTime(sound);
  return lead > kFarthestStart ? 0 : lead;
}

// A sound stream's companion, read from the file shared with the frame reader.
CompanionStep SoundStep(const JobSettings& settings, std::shared_ptr<const AviFile> file, const StreamEntry& entry,
                        uint64_t lead) {
  return {[settings, file = std::move(file), entry, lead](const SoundTask::StopCheck& stopped) {
    return AviCompanion(settings, *file, entry.index, entry.format, lead, stopped);
  }};
}

}  // namespace

Result<JobPlan> OpenAviPlan(const JobSettings& settings) {
  Result<AviFile> opened = AviFile::Open(settings.sourcePath);
  if (!opened) return opened.error();
  const auto file = std::make_shared<AviFile>(std::move(*opened));
  JobPlan plan;
  const uint32_t count = file->StreamCount();
  if (count == 0) return SourceError(settings, ErrorKind::kDamaged, "the AVI file has no streams");
  if (count > kMaxStreams) {
    plan.warnings.push_back(std::to_string(count - kMaxStreams) + " streams beyond the first " +
                            std::to_string(kMaxStreams) + " were left unused");
  }
  std::vector<StreamEntry> streams;
  for (uint32_t i = 0; i < count && i < kMaxStreams; ++i) streams.push_back({i, file->StreamInfo(i), file->ReadFormat(i)});
  bool video = false;
  bool audio = false;
  for (const StreamEntry& stream : streams) {
    const uint32_t type = stream.info.fccType;
    if (type == kStreamTypeVideo) {
      Result<MovieStep> movie = VideoStep(settings, *file, stream);
      if (!movie) return movie.error();
      plan.steps.emplace_back(std::move(*movie));
      video = true;
    }
    if (type == kStreamTypeAudio) {
      plan.steps.emplace_back(SoundStep(settings, file, stream, SoundLead(stream.info)));
      audio = true;
    }
  }
  if (!video && !audio) return SourceError(settings, ErrorKind::kUnsupported, "the AVI file has no video or audio stream");
  if (video) plan.outputs.emplace_back(".qrx");
  if (audio) plan.outputs.emplace_back(".mp3");
  return plan;
}

}  // namespace reel
