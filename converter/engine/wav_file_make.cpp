// The conversion job's body: the AVI job (streams in file order, video by the frame loop, audio
// by the audio steps) and the ".mj" job (header, index, chunk pictures, chunk sound).
//
// Everything a job could refuse is checked before anything is written: a source that cannot be
// read, a source rate of 0, an output name that is the source itself. After that, damage in the
// source costs a repeated frame or an empty companion file and a warning; only an output file
// that cannot be written stops the job.
#include "converter/engine/wav_file_make.h"

#include <filesystem>
#include <new>
#include <optional>
#include <utility>

#include "common/byte_io.h"
#include "common/string_search.h"
#include "converter/audio/audio_file_writer.h"
#include "converter/audio/mp3_encoder.h"
#include "converter/audio/pcm_conversion.h"
#include "converter/engine/frame_timing.h"
#include "converter/engine/mj_file.h"
#include "converter/engine/movie_builder.h"
#include "converter/engine/output_name.h"
#include "converter/engine/frame_pipeline.h"
#include "converter/engine/staged_output.h"
#include "converter/jpeg/frame_jpeg.h"
#include "platform/acm/wave_format.h"
#include "platform/avifile/avi_file.h"
#include "platform/avifile/avi_frame_reader.h"

namespace reel {
namespace {

constexpr const char* kSourcesWeRead = "this build reads AVI and .mj sources";
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

std::string FrameWarning(uint32_t count, uint32_t total, const char* what) {
  return std::to_string(count) + " of " + std::to_string(total) + " frames " + what +
         "; each repeats the frame before it (black at the start)";
}

uint64_t FileSize(const std::string& path) {
  std::error_code failure;
  const auto size = std::filesystem::file_size(path, failure);
  return failure ? 0 : size;
}

struct StreamEntry {
  uint32_t index = 0;
  AviStreamInfo info;
  std::vector<uint8_t> format;
};

}  // namespace

bool IsMjPath(const std::string& path) {
  const auto dot = FindLastChar(path, '.');
  return dot && EqualNoCase(std::string_view(path).substr(*dot), ".mj");
}

// One run of the job body: the job's settings and progress, and the report being built.
class CWavFileMake::Run {
 public:
  Run(CWavFileMake& job, JobReport& report) : job_(job), settings_(job.settings_), report_(report) {}

  uint32_t Execute() {
    if (settings_.pictureQuality < 0 || settings_.pictureQuality >= kQualityLevels) {
      return Fail("quality level " + std::to_string(settings_.pictureQuality) + " is not one of the 20 levels");
    }
    settings_.pictureQuality = 100 - 5 * settings_.pictureQuality;
    if (settings_.outputFolder.empty()) return Fail("no output folder was given");
    if (settings_.sourceKind == kSourceKindMj) return RunMj();
    return RunVideoFile();
  }

 private:
  uint32_t Fail(const std::string& reason) {
    report_.status = JobStatus::kFailed;
    report_.error = reason;
    return 1;
  }
  uint32_t FailSource(const std::string& reason) { return Fail(settings_.sourcePath + ": " + reason); }

  std::string OutputName(const char* extension) const {
    return MakeOutputName(settings_.outputFolder, settings_.sourcePath, extension);
  }

  // The user's source is never an output's target.
  std::optional<std::string> OutputIsSource(const char* extension) const {
    const std::string name = OutputName(extension);
    if (SameFile(name, settings_.sourcePath)) return name;
    return std::nullopt;
  }

  uint32_t RefuseOutputOverSource(const std::string& name) {
    return FailSource("the output " + name + " would replace the source itself; choose another output folder");
  }

  // ---- AVI ----

  uint32_t RunVideoFile() {
    job_.framesDone.store(0);
    job_.framesTotal.store(0);
    if (settings_.forceDirectShow != 0) {
      return FailSource(std::string("reading through the media framework is not available; ") + kSourcesWeRead);
    }
    std::string reason;
    auto file = AviFile::Open(settings_.sourcePath, &reason);
    if (!file) {
      if (reason == "not an AVI file") reason += std::string("; ") + kSourcesWeRead;
      return FailSource(reason);
    }
    std::vector<StreamEntry> streams = StreamTable(*file);
    if (streams.empty()) return FailSource("the AVI file has no streams");
    if (const uint32_t refused = CheckStreams(*file, streams); refused != 0) return refused;
    for (const StreamEntry& stream : streams) {
      job_.CheckKilled();
      uint32_t result = 0;
      if (stream.info.fccType == kStreamTypeVideo) result = VideoSteps(*file, stream);
      if (stream.info.fccType == kStreamTypeAudio) result = AudioSteps(*file, stream);
      if (result != 0) return result;
    }
    report_.status = JobStatus::kSucceeded;
    return 0;
  }

  // The streams in file order, at most kMaxStreams; the table is this run's own.
  std::vector<StreamEntry> StreamTable(const AviFile& file) {
    std::vector<StreamEntry> streams;
    const uint32_t count = file.StreamCount();
    for (uint32_t i = 0; i < count && i < kMaxStreams; ++i) {
      streams.push_back({i, file.StreamInfo(i), file.ReadFormat(i)});
    }
    if (count > kMaxStreams) {
      report_.warnings.push_back(std::to_string(count - kMaxStreams) + " streams beyond the first " +
                                 std::to_string(kMaxStreams) + " were left unused");
    }
    return streams;
  }

  // Everything that refuses the job, checked before anything is written.
  uint32_t CheckStreams(const AviFile& file, const std::vector<StreamEntry>& streams) {
    bool video = false;
    bool audio = false;
    for (const StreamEntry& stream : streams) {
      if (stream.info.fccType == kStreamTypeVideo) {
        video = true;
        if (AviSourceRate(stream.info.scale, stream.info.rate) == 0) {
          return FailSource("the video stream's rate rounds to 0 frames per second; there is nothing to convert");
        }
        const auto timing = ComputeFrameTiming(AviSourceRate(stream.info.scale, stream.info.rate), stream.info.length,
                                               settings_.frameRateChoice);
        if (!timing) return FailSource("the video stream is too long for one movie");
        if (timing->frameCount > 0 && !AviFrameReader::Open(file.Path(), stream.index)) {
          return FailSource("no decoder for video stream " + std::to_string(stream.index));
        }
      }
      if (stream.info.fccType == kStreamTypeAudio) audio = true;
    }
    if (!video && !audio) return FailSource("the AVI file has no video or audio stream");
    if (video) {
      if (auto name = OutputIsSource(".qrx")) return RefuseOutputOverSource(*name);
    }
    if (audio) {
      if (auto name = OutputIsSource(".mp3")) return RefuseOutputOverSource(*name);
    }
    return 0;
  }

  uint32_t VideoSteps(const AviFile& file, const StreamEntry& stream) {
    const FrameTiming timing =
        *ComputeFrameTiming(AviSourceRate(stream.info.scale, stream.info.rate), stream.info.length, settings_.frameRateChoice);
    std::optional<AviFrameReader> reader;
    if (timing.frameCount > 0) {
      reader = AviFrameReader::Open(file.Path(), stream.index);
      if (!reader) return FailSource("no decoder for video stream " + std::to_string(stream.index));
    }
    const PictureSize formatSize = FormatPictureSize(stream.format);
    return WriteMovie(timing, std::nullopt, [&](uint32_t k) -> std::optional<BmpImage> {
      return WrapDib(reader->GetFrame(SourceFrameFor(k, timing.step), kBmpFileHeaderSize));
    }, [&](const std::optional<BmpImage>& first) {
      const PictureSize source = first ? PictureSize{first->Width(), first->Height()} : formatSize;
      return FitBoxToSource(BoxForChoice(settings_.pictureSizeChoice), source);
    });
  }

  uint32_t AudioSteps(const AviFile& file, const StreamEntry& stream) {
    const auto format = ReadAudioFormat(stream.format);
    const std::string label = "sound stream " + std::to_string(stream.index);
    PcmSoundtrack pcm{CompanionTargetFormat(settings_.audioRateFlag != 0, settings_.stereoFlag != 0), {}};
    if (!format) {
      report_.warnings.push_back(label + " has no usable format; its companion file is empty");
    } else if (auto data = file.ReadWholeStream(stream.index); !data) {
      report_.warnings.push_back(label + " cannot be read; its companion file is empty");
    } else if (format->wave.formatTag == kWaveFormatPcm) {
      pcm = {format->wave, std::move(*data)};
    } else {
      FirstStageResult first = ConvertSoundtrackToPcm(*format, std::move(*data));
      if (!first.decoded) {
        report_.warnings.push_back(label + " cannot be converted to PCM; its companion file is empty");
        first.soundtrack.data.clear();
      }
      pcm = std::move(first.soundtrack);
    }
    job_.CheckKilled();
    return WriteCompanion(pcm);
  }

  // ---- ".mj" ----

  uint32_t RunMj() {
    job_.framesDone.store(0);
    job_.framesTotal.store(0);
    std::string reason;
    auto mj = MjFile::Open(settings_.sourcePath, reason);
    if (!mj) return FailSource(reason);
    const MjHeader& header = mj->Header();
    const uint32_t rate = mj->SourceRate();
    if (rate == 0) return FailSource("the .mj frame rate is 0 frames per second; there is nothing to convert");
    const auto timing = ComputeFrameTiming(rate, mj->ChunkCount(), settings_.frameRateChoice);
    if (!timing) return FailSource("the .mj file is too long for one movie");
    const auto size = FitBoxFromHeader(BoxForChoice(settings_.pictureSizeChoice), {header.width, header.height});
    if (!size) return FailSource("the .mj header gives a picture size of 0");
    // The fit enlarges a source narrower than the box; a height beyond the largest picture the
    // scaler makes could never be coded (see FitBoxFromHeader), so nothing is written at all.
    if (size->height > BmpImage::kMaxDimension) {
      return FailSource("the .mj picture is too narrow for its height to fit a movie");
    }
    if (auto name = OutputIsSource(".qrx")) return RefuseOutputOverSource(*name);
    if (auto name = OutputIsSource(".mp3")) return RefuseOutputOverSource(*name);

    const uint32_t result = WriteMovie(*timing, size, [&](uint32_t k) -> std::optional<BmpImage> {
      const auto jpeg = mj->Picture(SourceFrameFor(k, timing->step));
      if (!jpeg) return std::nullopt;
      return DecodeFrameJpeg(*jpeg);
    }, nullptr);
    if (result != 0) return result;
    job_.CheckKilled();
    if (const uint32_t sound = WriteCompanion(MjSound(*mj)); sound != 0) return sound;
    report_.status = JobStatus::kSucceeded;
    return 0;
  }

  PcmSoundtrack MjSound(MjFile& mj) {
    const MjHeader& header = mj.Header();
    PcmSoundtrack pcm{CompanionTargetFormat(settings_.audioRateFlag != 0, settings_.stereoFlag != 0), {}};
    if (header.channels < 1 || header.channels > 2 || header.sampleRate == 0) {
      report_.warnings.push_back("the .mj sound has " + std::to_string(header.channels) + " channels at " +
                                 std::to_string(header.sampleRate) + " Hz, which cannot be converted; the companion file is empty");
      return pcm;
    }
    pcm.format = PcmWaveFormat(header.sampleRate, header.channels, 16);
    uint32_t chunks = header.soundChunksPlusOne > 0 ? header.soundChunksPlusOne - 1u : 0u;
    if (chunks > header.indexEntries) {
      report_.warnings.push_back("the .mj header names more sound chunks than its index holds; the extra ones are ignored");
      chunks = header.indexEntries;
    }
    uint32_t damaged = 0;
    for (uint32_t e = 0; e < chunks; ++e) {
      const auto sound = mj.Sound(e);
      if (!sound) {
        ++damaged;
        continue;
      }
      pcm.data.insert(pcm.data.end(), sound->begin(), sound->end());
    }
    if (damaged > 0) {
      report_.warnings.push_back(std::to_string(damaged) + " .mj chunks have sound outside their bounds; it was left out");
    }
    pcm.data.resize(pcm.data.size() - pcm.data.size() % pcm.format.blockAlign);
    return pcm;
  }

  // ---- output ----

  // The frame loop, shared by both sources: `picture(k)` gives the source picture of output frame
  // k; the movie's size is `size`, or the fit that `fit` makes on the first picture.
  template <typename PictureFor, typename FitFor>
  uint32_t WriteMovie(const FrameTiming& timing, std::optional<PictureSize> size, PictureFor picture, FitFor fit) {
    job_.framesTotal.store(static_cast<int32_t>(timing.frameCount));
    job_.framesDone.store(0);
    std::string error;
    auto staged = StagedOutput::Create(OutputName(".qrx"), error);
    if (!staged) return Fail(error);
    auto movie = MovieBuilder::Begin(staged->TemporaryPath(), timing, settings_.pictureSizeChoice,
                                     settings_.pictureQuality, error);
    if (!movie) return Fail(error);
    if (size) movie->SetSize(*size);
    // The first frame is made here: its picture fixes the movie's size for all the others.
    uint32_t k = 0;
    if (timing.frameCount > 0) {
      job_.CheckKilled();
      std::optional<BmpImage> first = picture(0);
      if constexpr (!std::is_null_pointer_v<FitFor>) movie->SetSize(fit(first));
      if (!movie->AddPicture(first)) return Fail(movie->Error());
      job_.framesDone.store(1);
      k = 1;
    }
    if (job_.frameCoders_ == 0) {
      for (; k < timing.frameCount; ++k) {
        job_.CheckKilled();
        if (!movie->AddPicture(picture(k))) return Fail(movie->Error());
        job_.framesDone.store(static_cast<int32_t>(movie->FramesDone()));
      }
    } else if (k < timing.frameCount) {
      const PictureSize movieSize = movie->Size();
      const int32_t quality = movie->Quality();
      FramePipeline frames(k, timing.frameCount, picture, [movieSize, quality](const BmpImage& source) {
        return CodeSourcePicture(source, movieSize, quality);
      }, job_.frameCoders_);
      for (; k < timing.frameCount; ++k) {
        job_.CheckKilled();
        FramePipeline::Frame frame = frames.Next();
        if (!movie->AddCoded(frame.pictureMissing, std::move(frame.coded))) return Fail(movie->Error());
        job_.framesDone.store(static_cast<int32_t>(movie->FramesDone()));
      }
    }
    if (!movie->Finish()) return Fail(movie->Error());
    if (!staged->Commit(error)) return Fail(error);
    if (movie->MissingPictures() > 0) {
      report_.warnings.push_back(FrameWarning(movie->MissingPictures(), timing.frameCount, "could not be read or decoded"));
    }
    if (movie->UncodablePictures() > 0) {
      report_.warnings.push_back(FrameWarning(movie->UncodablePictures(), timing.frameCount, "could not be coded"));
    }
    report_.moviePath = staged->FinalPath();
    report_.frames = timing.frameCount;
    report_.width = movie->Size().width;
    report_.height = movie->Size().height;
    report_.sourceRate = timing.sourceRate;
    report_.movieRate = timing.targetRate;
    report_.movieBytes = FileSize(report_.moviePath);
    return 0;
  }

  // Encodes the soundtrack to MP3 and writes it as the companion file in one write.
  uint32_t WriteCompanion(const PcmSoundtrack& pcm) {
    EncodedAudio encoded = EncodeMp3(pcm.data, pcm.format, settings_.audioBitRateIndex, settings_.audioRateFlag != 0,
                                     settings_.stereoFlag != 0);
    if (encoded.outcome != AudioOutcome::kEncoded) {
      report_.warnings.push_back(std::string("MP3: ") + DescribeAudioOutcome(encoded.outcome));
    }
    job_.CheckKilled();
    std::string error;
    auto staged = StagedOutput::Create(OutputName(".mp3"), error);
    if (!staged) return Fail(error);
    const std::size_t written = WriteWholeFile(staged->TemporaryPath(), encoded.bytes, kWriteFromStart, 0, true);
    if (written != encoded.bytes.size()) return Fail(staged->FinalPath() + ": cannot write the companion file");
    if (!staged->Commit(error)) return Fail(error);
    report_.audioPath = staged->FinalPath();
    report_.audioBytes = encoded.bytes.size();
    return 0;
  }

  CWavFileMake& job_;
  JobSettings& settings_;
  JobReport& report_;
};

CWavFileMake::CWavFileMake(JobSettings settings)
    : settings_(std::move(settings)), frameCoders_(FramePipeline::DefaultCoders()) {}

uint32_t CWavFileMake::RunThread() {
  if (finished.load() == 1) return 0;
  JobReport report;
  uint32_t code = 1;
  try {
    code = Run(*this, report).Execute();
  } catch (const CExKilledByCtrl&) {
    // Unfinished files went with their stages; files this job already completed go too, so a
    // stopped job leaves no half of its output behind.
    std::error_code ignored;
    if (!report.moviePath.empty()) std::filesystem::remove(report.moviePath, ignored);
    if (!report.audioPath.empty()) std::filesystem::remove(report.audioPath, ignored);
    report = JobReport();
    report.status = JobStatus::kStopped;
    report.error = settings_.sourcePath + ": stopped; no output was kept";
    code = 1;
  } catch (const std::bad_alloc&) {
    report.status = JobStatus::kFailed;
    report.error = settings_.sourcePath + ": out of memory";
    code = 1;
  }
  report_ = std::move(report);
  finished.store(1, std::memory_order_release);
  return code;
}

}  // namespace reel
