// Whole-buffer audio conversion on libavcodec and libswresample: the decoder its format tag names
// (codec_choice.h) turns a compressed source into samples (decoding.h), and the resampler brings
// them, or plain PCM straight from the source, to the destination's format (resampling.h). The
// same conversion over a source that arrives in pieces is piece_conversion.h's.
#include "platform/acm/acm_stream.h"

#include <algorithm>
#include <utility>

#include "platform/acm/codec_choice.h"
#include "platform/acm/decoding.h"
#include "platform/acm/piece_conversion.h"
#include "platform/acm/resampling.h"

namespace reel {
namespace {

using acm::CodecContextPtr;
using acm::FrameBytes;
using acm::Framing;
using acm::kLargestOutput;

// 8 kbit/s: no codec the converter decodes has a lower data rate.
constexpr uint32_t kLowestCodedByteRate = 1000;

}  // namespace

struct AcmStream::State {
  AudioFormat source;
  WAVEFORMATEX destination;
  AVCodecID codec = AV_CODEC_ID_NONE;  // none: the source is plain PCM
  std::unique_ptr<acm::PieceConverter> pieces;
};

uint32_t AcmFormatSuggest(const AudioFormat& source, WAVEFORMATEX& destination, uint32_t flags) {
  if ((flags & ~kAcmFormatSuggestTag) != 0) return kAcmBadFlags;
  if ((flags & kAcmFormatSuggestTag) != 0 && destination.formatTag != kWaveFormatPcm) return kAcmNoConversion;
  if (!acm::SourceIsConvertible(source)) return kAcmNoConversion;
  const uint16_t channels = std::min<uint16_t>(source.wave.channels, 2);
  destination = PcmWaveFormat(source.wave.samplesPerSec, channels, 16);
  return kAcmOk;
}

std::optional<AcmStream> AcmStream::Open(const AudioFormat& source, const WAVEFORMATEX& destination,
                                         uint32_t /*flags*/) {
  if (!acm::IsUsableDestination(destination) || !acm::SourceIsConvertible(source)) return std::nullopt;
  auto state = std::make_unique<State>();
  state->source = source;
  state->destination = destination;
  if (!acm::IsPlainPcm(source.wave)) state->codec = acm::DecoderFor(source);
  return AcmStream(std::move(state));
}

AcmStream::AcmStream(std::unique_ptr<State> state) : state_(std::move(state)) {}
AcmStream::AcmStream(AcmStream&&) noexcept = default;
AcmStream& AcmStream::operator=(AcmStream&&) noexcept = default;
AcmStream::~AcmStream() = default;

// Every conversion starts from fresh decoder and resampler state, so there is nothing to forget.
void AcmStream::Reset() {}

std::size_t AcmStream::DestinationSize(std::size_t sourceLength) const {
  const WAVEFORMATEX& source = state_->source.wave;
  const WAVEFORMATEX& destination = state_->destination;
  const uint64_t destinationRate = static_cast<uint64_t>(destination.samplesPerSec) * FrameBytes(destination);
  uint64_t bytes = 0;
  if (state_->codec == AV_CODEC_ID_NONE) {
    const uint64_t frames = sourceLength / FrameBytes(source);
    const uint64_t outFrames = (frames * destination.samplesPerSec + source.samplesPerSec - 1) / source.samplesPerSec;
    bytes = outFrames * FrameBytes(destination);
  } else if (source.avgBytesPerSec != 0) {
    // The header's data rate is taken no lower than any codec goes, so a damaged header cannot
    // ask for a huge block.
    const uint64_t sourceRate = std::max(source.avgBytesPerSec, kLowestCodedByteRate);
    bytes = (static_cast<uint64_t>(sourceLength) * destinationRate + sourceRate - 1) / sourceRate;
  } else {
    // No data rate in the header: guess a compression of 4 to 1 against 16-bit PCM at the source's
    // shape. The conversion grows its block if the guess is short.
    bytes = static_cast<uint64_t>(sourceLength) * 4 * destinationRate /
            (static_cast<uint64_t>(source.samplesPerSec) * source.channels * 2);
  }
  return static_cast<std::size_t>(std::min<uint64_t>(bytes, kLargestOutput));
}

std::size_t AcmStream::Convert(std::span<const uint8_t> source, std::vector<uint8_t>& destination) {
  acm::OutputSink sink(destination);
  acm::Resampler resampler(state_->destination);
  if (state_->codec == AV_CODEC_ID_NONE) {
    acm::ConvertPlainPcm(state_->source.wave, source, resampler, sink);
  } else {
    CodecContextPtr context = acm::OpenDecoder(state_->source, state_->codec);
    if (!context) return 0;
    acm::DecodeLoop loop(context.get(), resampler, sink);
    if (!loop.Ready()) return 0;
    switch (acm::FramingFor(state_->source, state_->codec)) {
      case Framing::kParser: acm::ParseAndDecode(context.get(), source, loop); break;
      case Framing::kBlocks: acm::ChunkAndDecode(state_->source.wave, state_->codec, source, loop); break;
      case Framing::kWhole: acm::DecodeWhole(source, loop); break;
    }
    loop.Send(nullptr, 0);
  }
  resampler.Flush(sink);
  return sink.Produced();
}

void AcmStream::Begin(Output output) {
  state_->pieces =
      std::make_unique<acm::PieceConverter>(state_->source, state_->destination, state_->codec, std::move(output));
}

void AcmStream::Feed(std::span<const uint8_t> piece) {
  if (state_->pieces) state_->pieces->Feed(piece);
}

bool AcmStream::FinishPart(std::size_t bytes) {
  if (!state_->pieces) return true;
  if (!state_->pieces->FinishPart(bytes)) return false;
  state_->pieces.reset();
  return true;
}

std::size_t AcmStream::Finish() {
  if (!state_->pieces) return 0;
  const std::size_t produced = state_->pieces->Finish();
  state_->pieces.reset();
  return produced;
}

}  // namespace reel
