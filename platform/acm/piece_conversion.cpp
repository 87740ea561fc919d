#include "platform/acm/piece_conversion.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace reel::acm {

PieceConverter::PieceConverter(const AudioFormat& source, const WAVEFORMATEX& destination, AVCodecID codec,
                               AcmStream::Output output)
    : source_(source.wave), codec_(codec), output_(std::move(output)), resampler_(destination) {
  if (codec_ == AV_CODEC_ID_NONE) return;
  context_ = OpenDecoder(source, codec_);
  if (!context_) return;
  loop_.emplace(context_.get(), resampler_, sink_);
  if (!loop_->Ready()) {
    loop_.reset();
    return;
  }
  framing_ = FramingFor(source, codec_);
  if (framing_ == Framing::kParser) parser_.reset(av_parser_init(context_->codec_id));
}

// What is held back before the next call: up to a step of the framing and a piece past it. Held in
// one block reserved at once, the bytes are not moved as it grows.
void PieceConverter::ReserveHeld() {
  std::size_t step = 0;
  if (codec_ == AV_CODEC_ID_NONE) {
    step = kPcmChunkFrames * FrameBytes(source_);
  } else if (framing_ == Framing::kParser) {
    step = kParseStep + AV_INPUT_BUFFER_PADDING_SIZE;
  } else if (framing_ == Framing::kBlocks) {
    step = PacketBytes(source_, codec_);
  }
  if (step != 0) pending_.reserve(step + kHeldPieceRoom);
}

void PieceConverter::Feed(std::span<const uint8_t> piece) {
  if (codec_ != AV_CODEC_ID_NONE && !loop_) return;  // no decoder: nothing is produced
  if (pending_.capacity() == 0) ReserveHeld();
  pending_.insert(pending_.end(), piece.begin(), piece.end());
  if (codec_ == AV_CODEC_ID_NONE) {
    FeedPcm(false);
  } else if (framing_ == Framing::kBlocks) {
    FeedBlocks(false);
  } else if (framing_ == Framing::kParser) {
    FeedParser();
  }
  Compact();
  sink_.PassOn(output_);
}

std::size_t PieceConverter::Finish() {
  FinishPart(std::numeric_limits<std::size_t>::max());
  return sink_.Produced();
}

bool PieceConverter::FinishPart(std::size_t bytes) {
  if (ending_ == Ending::kDone) return true;
  if (codec_ != AV_CODEC_ID_NONE && !loop_) {
    ending_ = Ending::kDone;
    return true;
  }
  const std::size_t before = sink_.Produced();
  if (ending_ == Ending::kNotBegun) BeginEnding();
  while (ending_ == Ending::kParsing) {
    if (!ParseLastStep()) {
      ending_ = Ending::kDraining;
    } else if (sink_.Produced() - before >= bytes) {
      return false;
    }
  }
  Drain();
  return true;
}

std::span<const uint8_t> PieceConverter::Pending() const { return std::span<const uint8_t>(pending_).subspan(start_); }

// The bytes converted already are dropped once they are no fewer than those left, so that moving
// what is left costs no more than what was taken.
void PieceConverter::Compact() {
  if (start_ == 0 || (start_ < kParseStep && start_ < pending_.size() - start_)) return;
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start_));
  start_ = 0;
}

// Whole chunks of kPcmChunkFrames; at the end the whole frames left.
void PieceConverter::FeedPcm(bool last) {
  const std::size_t frameBytes = FrameBytes(source_);
  const std::size_t chunkBytes = kPcmChunkFrames * frameBytes;
  while (Pending().size() >= chunkBytes || (last && Pending().size() >= frameBytes)) {
    const std::size_t frames = std::min(kPcmChunkFrames, Pending().size() / frameBytes);
    if (!pcmFailed_) pcmFailed_ = !acm::FeedPcm(resampler_, source_, Pending().data(), frames, sink_);
    start_ += frames * frameBytes;
  }
}

void PieceConverter::FeedBlocks(bool last) {
  const std::size_t packetBytes = PacketBytes(source_, codec_);
  while (Pending().size() >= packetBytes || (last && !Pending().empty())) {
    std::size_t length = std::min(packetBytes, Pending().size());
    const std::size_t taken = length;
    if (TakesWholeBlocksOnly(codec_)) length -= length % source_.blockAlign;
    if (length > 0) loop_->Send(Pending().data(), length);
    start_ += taken;
    sink_.PassOn(output_);
  }
}

// The parser's calls as the whole-buffer loop makes them. Before the end a step is taken only
// when the bytes past it are there too, so the parser reads the bytes it would have read.
void PieceConverter::FeedParser() {
  if (!parser_) return;
  while (Pending().size() >= kParseStep + AV_INPUT_BUFFER_PADDING_SIZE) {
    if (!ParseOnce(kParseStep)) return;
  }
}

// Converts what is held back, but for the parser's last steps, which follow one call at a time.
void PieceConverter::BeginEnding() {
  ending_ = Ending::kDraining;
  if (codec_ == AV_CODEC_ID_NONE) {
    FeedPcm(true);
    return;
  }
  switch (framing_) {
    case Framing::kParser:
      if (!parser_) return;
      parseLeft_ = Pending().size();
      pending_.resize(pending_.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
      parseDraining_ = false;
      ending_ = Ending::kParsing;
      return;
    case Framing::kBlocks: FeedBlocks(true); return;
    case Framing::kWhole: DecodeWhole(Pending(), *loop_); return;
  }
}

// One call of the whole-buffer loop's last steps: the bytes left in steps of kParseStep, then the
// parser drained of what it still holds. False once the loop would stop.
bool PieceConverter::ParseLastStep() {
  const std::size_t step = std::min(parseLeft_, kParseStep);
  const int used = ParseCall(parseDraining_ ? nullptr : pending_.data() + start_, parseDraining_ ? 0 : step);
  if (used < 0) return false;
  if (parseDraining_) return lastFrameSize_ != 0;
  start_ += static_cast<std::size_t>(used);
  parseLeft_ -= static_cast<std::size_t>(used);
  if (parseLeft_ == 0) parseDraining_ = true;
  return true;
}

// The decoder's and the resampler's last samples.
void PieceConverter::Drain() {
  if (codec_ != AV_CODEC_ID_NONE) loop_->Send(nullptr, 0);
  resampler_.Flush(sink_);
  sink_.PassOn(output_);
  pending_.clear();
  start_ = 0;
  ending_ = Ending::kDone;
}

bool PieceConverter::ParseOnce(std::size_t step) {
  const int used = ParseCall(Pending().data(), step);
  if (used < 0) {
    parser_.reset();  // the whole-buffer loop stops here too
    return false;
  }
  start_ += static_cast<std::size_t>(used);
  return true;
}

int PieceConverter::ParseCall(const uint8_t* data, std::size_t size) {
  uint8_t* frame = nullptr;
  int frameSize = 0;
  const int used = av_parser_parse2(parser_.get(), context_.get(), &frame, &frameSize, data, static_cast<int>(size),
                                    AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
  lastFrameSize_ = frameSize;
  if (used >= 0 && frameSize > 0) {
    loop_->Send(frame, static_cast<std::size_t>(frameSize));
    // Handed on frame by frame, so a track parsed whole at the end never gathers in the scratch.
    sink_.PassOn(output_);
  }
  return used;
}

}  // namespace reel::acm
