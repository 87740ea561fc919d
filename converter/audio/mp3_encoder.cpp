// MP3 encoding through gogo.dll.
#include "converter/audio/mp3_encoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "converter/audio/sound_format_conversion.h"
#include "platform/registry/user_registry.h"

namespace reel {
namespace {

constexpr std::size_t kMinimumOutputBlock = 0x200000;  // 2 MiB
// The registry value is read into a buffer of this size, terminator included.
constexpr std::size_t kRegistryValueBuffer = 1024;

// The module's path from the registry, when a value that fits the buffer is there.
std::optional<std::string> RegisteredModulePath() {
  auto path = ReadUserRegistryString(kMp3RegistryKey, kMp3RegistryValue);
  if (!path || path->size() >= kRegistryValueBuffer) return std::nullopt;
  return path;
}

}  // namespace

uint32_t Mp3BitRate(int32_t bitRateIndex, bool stereo) {
  if (bitRateIndex < 0 || static_cast<std::size_t>(bitRateIndex) >= kStereoBitRates.size()) return 0;
  const uint32_t rate = kStereoBitRates[static_cast<std::size_t>(bitRateIndex)];
  return stereo ? rate : rate / 2;
}

std::size_t Mp3OutputBlockSize(std::size_t inputLength) {
  return inputLength >= kMinimumOutputBlock ? inputLength / 2 : kMinimumOutputBlock;
}

Mp3EncoderState& Mp3EncoderState::Instance() {
  static Mp3EncoderState state;
  return state;
}

void Mp3EncoderState::Begin(std::span<const uint8_t> input) {
  DiscardOutput();
  input_ = input;
  output_.reserve(Mp3OutputBlockSize(input.size()));
}

void Mp3EncoderState::BeginPieces(SoundPieces& input, const EncodedOutput& output) {
  DiscardOutput();
  pieces_ = &input;
  pieceOutput_ = &output;
}

void Mp3EncoderState::PullPieces(std::size_t length) {
  if (queueStart_ > 0 && queueStart_ >= queue_.size() / 2) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queueStart_));
    queueStart_ = 0;
  }
  while (!piecesEnded_ && queue_.size() - queueStart_ < length) {
    const Result<bool> more = pieces_->Next(queue_);
    if (!more) {
      piecesStatus_ = more.error();
      piecesEnded_ = true;
    } else if (!*more) {
      piecesEnded_ = true;
    }
  }
}

std::vector<uint8_t> Mp3EncoderState::TakeOutput() {
  std::vector<uint8_t> output = std::move(output_);
  output_ = {};
  input_ = {};
  return output;
}

void Mp3EncoderState::DiscardOutput() {
  input_ = {};
  consumed_ = 0;
  std::vector<uint8_t>().swap(output_);
  pieces_ = nullptr;
  pieceOutput_ = nullptr;
  std::vector<uint8_t>().swap(queue_);
  queueStart_ = 0;
  piecesEnded_ = false;
  piecesStatus_ = {};
}

int32_t Mp3EncoderState::ReadInput(void* buffer, uint32_t length) {
  if (pieces_ != nullptr) {
    PullPieces(length);
    if (!piecesStatus_) return 2;  // an error: the module ends the stream
    const std::size_t queued = queue_.size() - queueStart_;
    if (queued == 0 || buffer == nullptr) return 1;
    auto* out = static_cast<uint8_t*>(buffer);
    const std::size_t available = std::min<std::size_t>(length, queued);
    std::memcpy(out, queue_.data() + queueStart_, available);
    std::memset(out + available, 0, length - available);
    queueStart_ += available;
    return 0;
  }
  if (consumed_ >= input_.size()) return 1;
  if (buffer == nullptr) return 1;
  auto* out = static_cast<uint8_t*>(buffer);
  const std::size_t available = std::min<std::size_t>(length, input_.size() - consumed_);
  std::memcpy(out, input_.data() + consumed_, available);
  std::memset(out + available, 0, length - available);
  consumed_ += available;
  return 0;
}

int32_t Mp3EncoderState::WriteOutput(const void* buffer, uint32_t length) {
  if (buffer == nullptr) return 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  if (pieceOutput_ != nullptr) {
    if (!piecesStatus_) return 1;
    piecesStatus_ = (*pieceOutput_)(std::span<const uint8_t>(bytes, length));
    return piecesStatus_ ? 0 : 1;
  }
  output_.insert(output_.end(), bytes, bytes + length);
  return 0;
}

int32_t Mp3ReadInput(void* buffer, uint32_t length) { return Mp3EncoderState::Instance().ReadInput(buffer, length); }

int32_t Mp3WriteOutput(void* buffer, uint32_t length) {
  return Mp3EncoderState::Instance().WriteOutput(buffer, length);
}

Mp3EncoderLib::Mp3EncoderLib(uint32_t bitRate) : bitRate_(bitRate) { Load(); }

Mp3EncoderLib::~Mp3EncoderLib() { Release(); }

int32_t Mp3EncoderLib::Load() {
  if (module_) return kMp3LoadOk;
  module_ = LoadableModule::Load(kMp3ModuleName);
  if (!module_) {
    if (const auto path = RegisteredModulePath()) module_ = LoadableModule::Load(*path);
  }
  if (!module_) return kMp3LoadFailed;
  if (!LookUpEntryPoints()) {
    module_.reset();
    entries_ = {};
    return kMp3LoadFailed;
  }
  return kMp3LoadOk;
}

bool Mp3EncoderLib::LookUpEntryPoints() {
  const LoadableModule& module = *module_;
  entries_.initializeWork = module.Entry<MpgeInitializeWork>("MPGE_initializeWork");
  entries_.setConfigure = module.Entry<MpgeSetConfigure>("MPGE_setConfigure");
  entries_.getConfigure = module.Entry<MpgeGetConfigure>("MPGE_getConfigure");
  entries_.detectConfigure = module.Entry<MpgeDetectConfigure>("MPGE_detectConfigure");
  entries_.processFrame = module.Entry<MpgeProcessFrame>("MPGE_processFrame");
  entries_.closeCoder = module.Entry<MpgeCloseCoder>("MPGE_closeCoder");
  entries_.endCoder = module.Entry<MpgeEndCoder>("MPGE_endCoder");
  entries_.getVersion = module.Entry<MpgeGetVersion>("MPGE_getVersion");
  entries_.getUnitStates = module.Entry<MpgeGetUnitStates>("MPGE_getUnitStates");
  // Only the entry points this front end calls must be there.
  return entries_.initializeWork && entries_.setConfigure && entries_.detectConfigure && entries_.processFrame &&
         entries_.closeCoder && entries_.endCoder;
}

void Mp3EncoderLib::Configure(const WAVEFORMATEX& format) {
  const uintptr_t description = reinterpret_cast<uintptr_t>(&Mp3EncoderState::Instance().Description());
  const uintptr_t output = reinterpret_cast<uintptr_t>(&Mp3WriteOutput);
  entries_.setConfigure(kMpgeItemInput, kMpgeByFunction, description);
  entries_.setConfigure(kMpgeItemOutput, kMpgeByFunction, output);
  entries_.setConfigure(kMpgeItemInfoFrame, 1, 0);
  entries_.setConfigure(kMpgeItemProtection, 0, 0);
  entries_.setConfigure(kMpgeItemConstantRate, 1, 0);
  entries_.setConfigure(kMpgeItemMode, format.channels == 1 ? 0 : 1, 0);
  entries_.setConfigure(kMpgeItemBitRate, bitRate_, 0);
  entries_.setConfigure(kMpgeItemOutputRate, format.samplesPerSec, 0);
}

std::optional<std::vector<uint8_t>> Mp3EncoderLib::Encode(std::span<const uint8_t> pcm, const WAVEFORMATEX& format) {
  if (!module_ || pcm.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  Mp3EncoderState& state = Mp3EncoderState::Instance();
  const std::lock_guard hold(state.Lock());
  state.Begin(pcm);
  entries_.initializeWork();
  state.Description() = {&Mp3ReadInput, static_cast<uint32_t>(pcm.size()), format.bitsPerSample,
                         format.samplesPerSec, format.channels};
  Configure(format);
  // A refused configuration leaves the output block in the state; Release frees it.
  if (entries_.detectConfigure() != kMpgeOk) return std::nullopt;
  while (entries_.processFrame() == kMpgeOk) {
  }
  entries_.closeCoder();
  entries_.endCoder();
  return state.TakeOutput();
}

Result<bool> Mp3EncoderLib::EncodePieces(SoundPieces& pcm, uint64_t size, const WAVEFORMATEX& format,
                                         const EncodedOutput& output) {
  if (!module_ || size > std::numeric_limits<uint32_t>::max()) return false;
  Mp3EncoderState& state = Mp3EncoderState::Instance();
  const std::lock_guard hold(state.Lock());
  state.BeginPieces(pcm, output);
  entries_.initializeWork();
  state.Description() = {&Mp3ReadInput, static_cast<uint32_t>(size), format.bitsPerSample, format.samplesPerSec,
                         format.channels};
  Configure(format);
  if (entries_.detectConfigure() != kMpgeOk) {
    state.DiscardOutput();
    return false;
  }
  while (entries_.processFrame() == kMpgeOk) {
  }
  entries_.closeCoder();
  entries_.endCoder();
  const Status result = state.PiecesStatus();
  state.DiscardOutput();
  if (!result) return result.error();
  return true;
}

void Mp3EncoderLib::Release() {
  if (module_) {
    Mp3EncoderState& state = Mp3EncoderState::Instance();
    const std::lock_guard hold(state.Lock());
    state.DiscardOutput();
  }
  module_.reset();
  entries_ = {};
}

EncodedAudio EncodeMp3(std::span<const uint8_t> pcm, const WAVEFORMATEX& format, const SoundSettings& sound) {
  const WAVEFORMATEX target = CompanionTargetFormat(sound.highRate, sound.stereo);
  const uint32_t bitRate = Mp3BitRate(sound.bitRateIndex, sound.stereo);
  if (bitRate == 0) return {AudioOutcome::kBadSetting, {}};
  Mp3EncoderLib encoder(bitRate);
  if (!encoder.Loaded()) return {AudioOutcome::kEncoderMissing, {}};

  AudioOutcome outcome = AudioOutcome::kEncoded;
  std::span<const uint8_t> input = pcm;
  WAVEFORMATEX inputFormat = format;
  std::optional<std::vector<uint8_t>> converted;
  if (NeedsSecondStage(format, target)) {
    converted = AcmConvertBuffer(AcmVariant::kMp3Preparation, format, target, pcm);
    if (!converted) outcome = AudioOutcome::kUnconvertible;
    input = converted ? std::span<const uint8_t>(*converted) : std::span<const uint8_t>();
    inputFormat = target;
  }
  auto encoded = encoder.Encode(input, inputFormat);
  if (!encoded) return {AudioOutcome::kEncoderRefused, {}};
  return {outcome, std::move(*encoded)};
}

}  // namespace reel

namespace reel {

Result<AudioOutcome> EncodeMp3Pieces(const SoundPiecesOpener& open, const WAVEFORMATEX& format, const SoundSettings& sound,
                                     const EncodedOutput& output) {
  const WAVEFORMATEX target = CompanionTargetFormat(sound.highRate, sound.stereo);
  const uint32_t bitRate = Mp3BitRate(sound.bitRateIndex, sound.stereo);
  if (bitRate == 0) return AudioOutcome::kBadSetting;
  Mp3EncoderLib encoder(bitRate);
  if (!encoder.Loaded()) return AudioOutcome::kEncoderMissing;

  AudioOutcome outcome = AudioOutcome::kEncoded;
  bool convertible = true;
  // The soundtrack as the module takes it: converted on the way when its format differs.
  const auto input = [&]() -> Result<std::unique_ptr<SoundPieces>> {
    Result<std::unique_ptr<SoundPieces>> pieces = open();
    if (!pieces || !NeedsSecondStage(format, target)) return pieces;
    std::unique_ptr<SoundPieces> converted = ConvertPieces(AcmVariant::kMp3Preparation, format, target, std::move(*pieces));
    if (!converted) {
      convertible = false;
      return MemoryPieces({}, 1);
    }
    return converted;
  };
  const WAVEFORMATEX inputFormat = NeedsSecondStage(format, target) ? target : format;
  CountedSound track(input, kKeptSoundBudget);
  const Result<uint64_t> size = track.Count();
  if (!size) return size.error();
  if (!convertible) outcome = AudioOutcome::kUnconvertible;
  Result<std::unique_ptr<SoundPieces>> pieces = track.Replay();
  if (!pieces) return pieces.error();
  const Result<bool> encoded = encoder.EncodePieces(**pieces, *size, inputFormat, output);
  if (!encoded) return encoded.error();
  if (!*encoded) return AudioOutcome::kEncoderRefused;
  return outcome;
}

}  // namespace reel
