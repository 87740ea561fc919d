// The AVI job: the streams in file order, video by the frame loop, audio by the audio steps. The
// file is opened once; its own demuxer serves the first video stream's frames.
#include <optional>
#include <string>
#include <utility>

#include "common/byte_io.h"
#include "converter/engine/job_run.h"
#include "platform/acm/wave_format.h"
#include "platform/avifile/avi_file.h"
#include "platform/avifile/avi_frame_reader.h"

namespace reel {
namespace {

constexpr uint32_t kBmpFileHeaderSize = 14;

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

PictureSize FormatPictureSize(std::span<const uint8_t> bitmapInfo) {
  if (bitmapInfo.size() < kBitmapInfoHeaderSize) return {};
  const auto height = static_cast<int32_t>(LoadU32(bitmapInfo.subspan<8, 4>()));
  return {LoadU32(bitmapInfo.subspan<4, 4>()), static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height)};
}

std::optional<FrameTiming> StreamTiming(const AviStreamInfo& info, FrameRateChoice choice) {
  return ComputeFrameTiming(AviSourceRate(info.scale, info.rate), info.length, choice);
}

}  // namespace

Status CWavFileMake::Run::RunVideoFile() {
  job_.framesDone.store(0);
  job_.framesTotal.store(0);
  if (settings_.forceDirectShow) return RunMediaGraph();
  Result<AviFile> file = AviFile::Open(settings_.sourcePath);
  if (!file) {
    // Anything that is not an AVI file goes to the media framework.
    if (file.kind() == ErrorKind::kNotThisFormat) return RunMediaGraph();
    return file.error();
  }
  std::vector<StreamEntry> streams = StreamTable(*file);
  if (streams.empty()) return SourceError(ErrorKind::kDamaged, "the AVI file has no streams");
  if (Status checked = CheckStreams(*file, streams); !checked) return checked;
  // The sound streams' companions are made on the sound task, one after another, each started as
  // soon as the one before it was taken, so the first is encoded while the frames are coded. Each
  // is taken, and its file appears, in its stream's turn.
  SoundTask sound([this] { return JobStopped(); });
  const AviFile& source = *file;
  std::size_t nextSound = 0;
  const auto startSound = [&](std::size_t from, bool overlap) {
    for (nextSound = from; nextSound < streams.size(); ++nextSound) {
      const StreamEntry& stream = streams[nextSound];
      if (stream.info.fccType != kStreamTypeAudio) continue;
      sound.Start([this, &source, &stream](const SoundTask::StopCheck& stopped) {
        return AviCompanion(source, stream, stopped);
      }, overlap);
      return;
    }
  };
  if (SoundOverlaps()) startSound(0, true);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    StreamEntry& stream = streams[i];
    job_.CheckKilled();
    Status result;
    if (stream.info.fccType == kStreamTypeVideo) result = VideoSteps(stream);
    if (stream.info.fccType == kStreamTypeAudio) {
      if (!sound.Running()) startSound(i, false);
      result = TakeCompanion(sound);
      if (result && SoundOverlaps()) startSound(i + 1, true);
    }
    if (!result) return result;  // the sound task stops with the run
  }
  return {};
}

// The streams in file order, at most kMaxStreams; the table is this run's own.
std::vector<CWavFileMake::Run::StreamEntry> CWavFileMake::Run::StreamTable(const AviFile& file) {
  std::vector<StreamEntry> streams;
  const uint32_t count = file.StreamCount();
  for (uint32_t i = 0; i < count && i < kMaxStreams; ++i) {
    streams.push_back({i, file.StreamInfo(i), file.ReadFormat(i), std::nullopt});
  }
  if (count > kMaxStreams) {
    report_.warnings.push_back(std::to_string(count - kMaxStreams) + " streams beyond the first " +
                               std::to_string(kMaxStreams) + " were left unused");
  }
  return streams;
}

// Everything that refuses the job, checked before anything is written. A video stream's frame
// reader is opened here and kept for its frame loop.
Status CWavFileMake::Run::CheckStreams(AviFile& file, std::vector<StreamEntry>& streams) {
  bool video = false;
  bool audio = false;
  for (StreamEntry& stream : streams) {
    if (stream.info.fccType == kStreamTypeVideo) {
      video = true;
      if (AviSourceRate(stream.info.scale, stream.info.rate) == 0) {
        return SourceError(ErrorKind::kRefused,
                           "the video stream's rate rounds to 0 frames per second; there is nothing to convert");
      }
      const auto timing = StreamTiming(stream.info, settings_.frameRateChoice);
      if (!timing) return SourceError(ErrorKind::kRefused, "the video stream is too long for one movie");
      if (timing->frameCount > 0) {
        Result<AviFrameReader> reader = file.OpenFrameReader(stream.index);
        if (!reader) {
          return SourceError(ErrorKind::kUnsupported, "no decoder for video stream " + std::to_string(stream.index));
        }
        stream.reader = std::move(*reader);
      }
    }
    if (stream.info.fccType == kStreamTypeAudio) audio = true;
  }
  if (!video && !audio) return SourceError(ErrorKind::kUnsupported, "the AVI file has no video or audio stream");
  if (video) {
    if (Status free = RefuseOutputOverSource(".qrx"); !free) return free;
  }
  if (audio) {
    if (Status free = RefuseOutputOverSource(".mp3"); !free) return free;
  }
  return {};
}

Status CWavFileMake::Run::VideoSteps(StreamEntry& stream) {
  const FrameTiming timing = *StreamTiming(stream.info, settings_.frameRateChoice);
  const PictureSize formatSize = FormatPictureSize(stream.format);
  AviFrameReader* reader = stream.reader ? &*stream.reader : nullptr;
  return WriteMovie(timing, std::nullopt, [reader, &timing](uint32_t k) -> std::optional<BmpImage> {
    return WrapDib(reader->GetFrame(SourceFrameFor(k, timing.step), kBmpFileHeaderSize));
  }, [&](const std::optional<BmpImage>& first) {
    const PictureSize source = first ? PictureSize{first->Width(), first->Height()} : formatSize;
    return FitBoxToSource(BoxForChoice(settings_.pictureSizeChoice), source);
  });
}

}  // namespace reel
