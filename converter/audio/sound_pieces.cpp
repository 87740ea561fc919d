#include "converter/audio/sound_pieces.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/acm/acm_stream.h"

namespace reel {
namespace {

class ConvertedPieces : public SoundPieces {
 public:
  ConvertedPieces(AcmStream stream, std::unique_ptr<SoundPieces> source)
      : stream_(std::move(stream)), source_(std::move(source)) {
    stream_.Begin([this](std::span<const uint8_t> bytes) { out_->insert(out_->end(), bytes.begin(), bytes.end()); });
  }

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (ended_) return false;
    out_ = &out;
    piece_.clear();
    const Result<bool> more = source_->Next(piece_);
    if (!more) return more.error();
    stream_.Feed(piece_);
    if (*more) return true;
    stream_.Finish();
    ended_ = true;
    return false;
  }

 private:
  AcmStream stream_;
  std::unique_ptr<SoundPieces> source_;
  std::vector<uint8_t> piece_;
  std::vector<uint8_t>* out_ = nullptr;
  bool ended_ = false;
};

class BlockPieces : public SoundPieces {
 public:
  BlockPieces(std::span<const uint8_t> block, std::size_t sliceBytes) : block_(block), sliceBytes_(std::max<std::size_t>(1, sliceBytes)) {}

  Result<bool> Next(std::vector<uint8_t>& out) override {
    const std::size_t length = std::min(sliceBytes_, block_.size() - offset_);
    out.insert(out.end(), block_.begin() + static_cast<std::ptrdiff_t>(offset_),
               block_.begin() + static_cast<std::ptrdiff_t>(offset_ + length));
    offset_ += length;
    return offset_ < block_.size();
  }

 private:
  std::span<const uint8_t> block_;
  std::size_t sliceBytes_;
  std::size_t offset_ = 0;
};

// Silence comes in slices of this many bytes (about a second of 44100 Hz stereo).
constexpr uint64_t kSilenceSliceBytes = 1u << 17;

class LedPieces : public SoundPieces {
 public:
  LedPieces(std::unique_ptr<SoundPieces> source, uint64_t silenceBytes)
      : source_(std::move(source)), silenceBytes_(silenceBytes) {}

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (silenceBytes_ == 0) return source_->Next(out);
    const uint64_t slice = std::min(silenceBytes_, kSilenceSliceBytes);
    out.resize(out.size() + static_cast<std::size_t>(slice), 0);
    silenceBytes_ -= slice;
    return true;
  }

 private:
  std::unique_ptr<SoundPieces> source_;
  uint64_t silenceBytes_;
};

// Kept bytes handed out in slices of this many, owned until the pieces are done with.
constexpr std::size_t kKeptSliceBytes = std::size_t{1} << 16;

class KeptPieces : public SoundPieces {
 public:
  explicit KeptPieces(std::vector<uint8_t> block) : block_(std::move(block)), slices_(block_, kKeptSliceBytes) {}

  Result<bool> Next(std::vector<uint8_t>& out) override { return slices_.Next(out); }

 private:
  std::vector<uint8_t> block_;
  BlockPieces slices_;
};

}  // namespace

std::unique_ptr<SoundPieces> ConvertPieces(AcmVariant variant, const AudioFormat& from, const WAVEFORMATEX& to,
                                           std::unique_ptr<SoundPieces> source) {
  auto stream = AcmStream::Open(from, to, variant == AcmVariant::kDecoding ? kAcmStreamOpenNonRealtime : 0);
  if (!stream) return nullptr;
  return std::make_unique<ConvertedPieces>(std::move(*stream), std::move(source));
}

std::unique_ptr<SoundPieces> LeadPieces(std::unique_ptr<SoundPieces> source, uint16_t blockAlign, uint64_t samples) {
  if (samples == 0) return source;
  return std::make_unique<LedPieces>(std::move(source), samples * blockAlign);
}

std::unique_ptr<SoundPieces> MemoryPieces(std::span<const uint8_t> block, std::size_t sliceBytes) {
  return std::make_unique<BlockPieces>(block, sliceBytes);
}

Result<uint64_t> CountPieces(SoundPieces& pieces) {
  uint64_t total = 0;
  std::vector<uint8_t> piece;
  for (;;) {
    piece.clear();
    const Result<bool> more = pieces.Next(piece);
    if (!more) return more.error();
    total += piece.size();
    if (!*more) return total;
  }
}

CountedSound::CountedSound(SoundPiecesOpener open, std::size_t budget) : open_(std::move(open)), budget_(budget) {}

Result<uint64_t> CountedSound::Count() {
  kept_.reset();
  Result<std::unique_ptr<SoundPieces>> pieces = open_();
  if (!pieces) return pieces.error();
  // The pieces are appended to the kept bytes straight away while they fit.
  std::vector<uint8_t> kept;
  bool more = true;
  while (more && kept.size() <= budget_) {
    const Result<bool> next = (*pieces)->Next(kept);
    if (!next) return next.error();
    more = *next;
  }
  const uint64_t counted = kept.size();
  if (counted <= budget_) {
    kept_ = std::move(kept);
    return counted;
  }
  std::vector<uint8_t>().swap(kept);
  if (!more) return counted;
  const Result<uint64_t> rest = CountPieces(**pieces);
  if (!rest) return rest.error();
  return counted + *rest;
}

Result<std::unique_ptr<SoundPieces>> CountedSound::Replay() {
  if (!kept_) return open_();
  std::unique_ptr<SoundPieces> pieces = std::make_unique<KeptPieces>(std::move(*kept_));
  kept_.reset();
  return pieces;
}

}  // namespace reel
