// The companion file of every source, AVI, ".mj" or media-framework, made in pieces: the sound is
// read, converted and encoded a little at a time and the encoder's stream is written as it comes,
// so a soundtrack of any length takes the same small amount of memory. The bytes are those the
// whole-block path (read whole, convert whole, encode whole, one write) gives. The work runs on the
// sound task's thread while the frames are coded; the job's thread takes its result in turn.
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "converter/audio/audio_file_writer.h"
#include "converter/audio/mp3_encoder.h"
#include "converter/audio/sound_format_conversion.h"
#include "converter/audio/soundtrack_extraction.h"
#include "converter/engine/staged_output.h"
#include "converter/engine/companion_writing.h"
#include "converter/engine/job_plan.h"
#include "converter/engine/mj_sound.h"
#include "converter/engine/pair_commit.h"
#include "platform/acm/acm_stream.h"
#include "platform/acm/wave_format.h"
#include "platform/avifile/avi_file.h"
#include "platform/mediagraph/soundtrack_reader.h"

namespace reel {
namespace {

// An AVI sound stream's packets, read until the work is asked to stop.
class AviPieces : public StoppableSource {
 public:
  AviPieces(AviStreamPieces pieces, SoundTask::StopCheck stopped, std::string path)
      : StoppableSource(std::move(stopped), std::move(path)), pieces_(std::move(pieces)) {}

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (Status going = Interruption(); !going) return going.error();
    const auto piece = pieces_.Next();
    if (!piece) return false;
    out.insert(out.end(), piece->begin(), piece->end());
    return true;
  }

 private:
  AviStreamPieces pieces_;
};

// The staged companion file and its writer; a failed write is remembered, so that it is told apart
// from a failure of the source.
class CompanionWriter {
 public:
  static Result<CompanionWriter> Create(const std::string& finalPath) {
    Result<StagedOutput> staged = StagedOutput::Create(finalPath);
    if (!staged) return staged.error();
    std::optional<AudioFileStream> file = AudioFileStream::Create(staged->TemporaryPath());
    if (!file) return MakeError(ErrorKind::kCannotWrite, finalPath, std::string("cannot write the companion file: ") + std::strerror(errno));
    return CompanionWriter(std::move(*staged), std::move(*file));
  }

  EncodedOutput Output(const SoundTask::StopCheck& stopped) {
    return [this, &stopped](std::span<const uint8_t> bytes) -> Status {
      if (stopped()) return MakeError(ErrorKind::kStopped, staged_.FinalPath(), "encoding the soundtrack was stopped");
      errno = 0;
      if (!file_.Write(bytes)) {
        const int cause = errno;
        writeFailed_ = true;
        return MakeError(ErrorKind::kCannotWrite, staged_.FinalPath(),
                         std::string("cannot write the companion file") + (cause != 0 ? std::string(": ") + std::strerror(cause) : ""));
      }
      return {};
    };
  }

  bool WriteFailed() const { return writeFailed_; }

  // The finished file, flushed to the disk, into the result; or the error of its close or flush.
  void Finish(CompanionResult& result) {
    if (!file_.Close()) {
      result.status = MakeError(ErrorKind::kCannotWrite, staged_.FinalPath(),
                                std::string("cannot write the companion file: ") + std::strerror(errno));
      return;
    }
    if (Status flushed = FlushAhead(staged_.TemporaryPath(), staged_.FinalPath()); !flushed) {
      result.status = flushed.error();
      return;
    }
    result.bytes = file_.Written();
    result.staged = std::move(staged_);
  }

 private:
  CompanionWriter(StagedOutput staged, AudioFileStream file) : staged_(std::move(staged)), file_(std::move(file)) {}

  StagedOutput staged_;
  AudioFileStream file_;
  bool writeFailed_ = false;
};

// What a companion that did not get its sound left behind, said after the encoder's outcome.
std::string WrittenText(AudioOutcome outcome, const CompanionResult& result, const std::string& finalPath) {
  if (!result.staged) return "No companion file was written; an older " + finalPath + ", if any, is left as it was.";
  if (result.bytes == 0) return "The companion file " + finalPath + " was written empty.";
  const std::string bytes = std::to_string(result.bytes) + " bytes";
  if (outcome == AudioOutcome::kUnconvertible) return "The companion file " + finalPath + " (" + bytes + ") holds no sound.";
  return "The companion file " + finalPath + " holds only the " + bytes + " encoded before that.";
}

void AddOutcomeWarning(CompanionResult& result, AudioOutcome outcome, const char* encoderName, const std::string& finalPath) {
  if (outcome != AudioOutcome::kEncoded) {
    result.warnings.push_back(std::string(encoderName) + ": " + DescribeAudioOutcome(outcome) + " " +
                              WrittenText(outcome, result, finalPath));
  }
}

// What an error of the sound's source (not a failed write, not a stop) does to the job.
enum class SourceFailure { kEndsJob, kLeavesNoCompanion };
// What an encoder that gives no block leaves: the media-framework path writes no file (an older
// one stays), the AVI and ".mj" paths an empty one.
enum class NoBlock { kNoFile, kEmptyFile };

using PiecesEncoding = std::function<Result<AudioOutcome>(const EncodedOutput& output)>;

// Encodes into the staged companion file `finalPath` as the encoder's bytes come. On success the
// file and the encoder's outcome go into `result`; otherwise its status or a warning says why.
void EncodeCompanion(const std::string& finalPath, const char* encoderName, SourceFailure failure, NoBlock noBlock,
                     const PiecesEncoding& encode, const SoundTask::StopCheck& stopped, CompanionResult& result) {
  Result<CompanionWriter> writer = CompanionWriter::Create(finalPath);
  if (!writer) {
    result.status = writer.error();
    return;
  }
  const Result<AudioOutcome> outcome = encode(writer->Output(stopped));
  if (!outcome) {
    if (failure == SourceFailure::kLeavesNoCompanion && !writer->WriteFailed() &&
        outcome.kind() != ErrorKind::kStopped) {
      result.warnings.push_back("no companion file: " + outcome.error().message);
    } else {
      result.status = outcome.error();
    }
    return;
  }
  // Without a block the staged file goes with the writer, and nothing replaces an older one.
  if (noBlock == NoBlock::kEmptyFile || !EncoderGaveNoBlock(*outcome)) writer->Finish(result);
  if (!result.status) return;
  AddOutcomeWarning(result, *outcome, encoderName, finalPath);
}

// A lead in 100-ns units as whole sample frames of `pcm`, rounded to the nearest.
uint64_t LeadSamples(uint64_t lead, const WAVEFORMATEX& pcm) {
  constexpr uint64_t kUnitsPerSecond = 10'000'000;
  const uint64_t rate = pcm.samplesPerSec;
  return lead / kUnitsPerSecond * rate + (lead % kUnitsPerSecond * rate + kUnitsPerSecond / 2) / kUnitsPerSecond;
}

// A soundtrack that cannot be read or decoded at all: its (empty) MP3 through the whole-block path.
CompanionResult EmptyCompanion(const JobSettings& settings, CompanionResult result, const WAVEFORMATEX& format) {
  const EncodedAudio encoded = EncodeMp3({}, format, settings.Sound());
  Result<StagedOutput> staged = StagedOutput::Create(JobOutputName(settings, ".mp3"));
  if (!staged) {
    result.status = staged.error();
    return result;
  }
  if (WriteWholeFile(staged->TemporaryPath(), encoded.bytes, kWriteFromStart, 0, true) != encoded.bytes.size()) {
    result.status = MakeError(ErrorKind::kCannotWrite, staged->FinalPath(), "cannot write the companion file");
    return result;
  }
  const std::string finalPath = staged->FinalPath();
  result.bytes = encoded.bytes.size();
  result.staged = std::move(*staged);
  AddOutcomeWarning(result, encoded.outcome, "MP3", finalPath);
  return result;
}

}  // namespace

CompanionResult AviCompanion(const JobSettings& settings, const AviFile& file, uint32_t stream,
                             const std::vector<uint8_t>& formatBlock, uint64_t lead, const SoundTask::StopCheck& stopped) {
  CompanionResult result;
  const auto format = ReadAudioFormat(formatBlock);
  const std::string label = "sound stream " + std::to_string(stream);
  const SoundSettings sound = settings.Sound();
  const WAVEFORMATEX target = CompanionTargetFormat(sound.highRate, sound.stereo);
  if (!format) {
    result.warnings.push_back(label + " has no usable format; its companion file is empty");
    return EmptyCompanion(settings, std::move(result), target);
  }
  if (!file.ReadStreamPieces(stream)) {
    result.warnings.push_back(label + " cannot be read; its companion file is empty");
    return EmptyCompanion(settings, std::move(result), target);
  }
  // A PCM stream passes as it is; any other is decoded to the PCM format the converter suggests.
  const bool decode = format->wave.formatTag != kWaveFormatPcm;
  WAVEFORMATEX pcmFormat = format->wave;
  if (decode) {
    WAVEFORMATEX suggested;
    suggested.formatTag = kWaveFormatPcm;
    AcmFormatSuggest(*format, suggested, kAcmFormatSuggestTag);
    pcmFormat = suggested;
    if (!AcmStream::Open(*format, suggested, kAcmStreamOpenNonRealtime)) {
      result.warnings.push_back(label + " cannot be converted to PCM; its companion file is empty");
      return EmptyCompanion(settings, std::move(result), suggested);
    }
  }
  const uint32_t index = stream;
  const std::string path = file.Path();
  const AudioFormat streamFormat = *format;
  const uint64_t leadSamples = LeadSamples(lead, pcmFormat);
  const SoundPiecesOpener open = [&file, index, path, decode, streamFormat, pcmFormat, leadSamples,
                                  &stopped]() -> Result<std::unique_ptr<SoundPieces>> {
    std::optional<AviStreamPieces> pieces = file.ReadStreamPieces(index);
    if (!pieces) return MakeError(ErrorKind::kCannotRead, path, "its sound stream cannot be read again");
    std::unique_ptr<SoundPieces> raw = std::make_unique<AviPieces>(std::move(*pieces), stopped, path);
    if (!decode) return LeadPieces(std::move(raw), pcmFormat.blockAlign, leadSamples);
    std::unique_ptr<SoundPieces> decoded = ConvertPieces(AcmVariant::kDecoding, streamFormat, pcmFormat, std::move(raw));
    if (!decoded) return MakeError(ErrorKind::kUnsupported, path, "its sound stream cannot be converted again");
    return LeadPieces(std::move(decoded), pcmFormat.blockAlign, leadSamples);
  };

  EncodeCompanion(JobOutputName(settings, ".mp3"), "MP3", SourceFailure::kEndsJob, NoBlock::kEmptyFile, [&](const EncodedOutput& output) {
    return EncodeMp3Pieces(open, pcmFormat, sound, output);
  }, stopped, result);
  return result;
}

// The sound of a ".mj" file read again through a handle of its own, twice over: the MP3 module is
// told the length of the sound it gets, which is known only once the sound has gone through the
// rate and channel conversion. Only the sound bytes are read, and from the system's cache.
CompanionResult MjCompanion(const JobSettings& settings, const MjSoundPlan& plan, const SoundTask::StopCheck& stopped) {
  CompanionResult result;
  result.warnings = plan.warnings;
  const SoundSettings sound = settings.Sound();
  if (!plan.layout.format) return EmptyCompanion(settings, std::move(result), CompanionTargetFormat(sound.highRate, sound.stereo));
  const std::string& path = settings.sourcePath;
  const MjSoundLayout& layout = plan.layout;
  const SoundPiecesOpener open = [&path, &layout, &stopped] { return OpenMjSoundPieces(path, layout, stopped); };
  EncodeCompanion(JobOutputName(settings, ".mp3"), "MP3", SourceFailure::kEndsJob, NoBlock::kEmptyFile, [&](const EncodedOutput& output) {
    return EncodeMp3Pieces(open, *layout.format, sound, output);
  }, stopped, result);
  return result;
}

CompanionResult MediaCompanion(const JobSettings& settings, std::optional<int64_t> startAt,
                               const std::optional<SourceFormat>& format, const SoundTask::StopCheck& stopped) {
  CompanionResult result;
  const SoundSettings sound = settings.Sound();
  SoundtrackLimits limits;
  limits.format = format;
  const Result<std::optional<SoundtrackSource>> source =
      OpenSoundtrackDShow(settings.sourcePath, sound, stopped, startAt, limits);
  if (!source) {
    result.warnings.push_back("no companion file: " + source.error().message);
    return result;
  }
  if (!*source) return result;
  const bool ogg = sound.encoder == AudioEncoder::kOgg;
  // A soundtrack that fails on the way leaves no companion, as one that cannot be read at all.
  EncodeCompanion(JobOutputName(settings, ogg ? ".ogg" : ".mp3"), ogg ? "Ogg" : "MP3", SourceFailure::kLeavesNoCompanion,
                  NoBlock::kNoFile, [&](const EncodedOutput& output) { return EncodeSoundtrackPieces(**source, sound, output); },
                  stopped, result);
  return result;
}

}  // namespace reel
