#include "converter/audio/sound_pieces.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/acm/acm_stream.h"

namespace reel {
namespace {

// The end of a conversion is handed on in parts of about this many bytes, so that a track the
// converter held back whole (shorter than its parser's step) does not come out in one piece.
constexpr std::size_t kEndingPartBytes = std::size_t{1} << 16;

class ConvertedPieces : public SoundPieces {
 public:
  ConvertedPieces(AcmStream stream, std::unique_ptr<SoundPieces> source)
      : stream_(std::move(stream)), source_(std::move(source)) {
    stream_.Begin([this](std::span<const uint8_t> bytes) { out_->insert(out_->end(), bytes.begin(), bytes.end()); });
  }

  Status Interruption() const override { return source_->Interruption(); }

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (ended_) return false;
    // While the source is read it checks for a stop itself; its end is handed on from here.
    if (sourceEnded_) {
      if (Status going = source_->Interruption(); !going) return going.error();
    }
    out_ = &out;
    if (!sourceEnded_) {
      piece_.clear();
      const Result<bool> more = source_->Next(piece_);
      if (!more) return more.error();
      stream_.Feed(piece_);
      if (*more) return true;
      sourceEnded_ = true;
    }
    ended_ = stream_.FinishPart(kEndingPartBytes);
    return !ended_;
  }

 private:
  AcmStream stream_;
  std::unique_ptr<SoundPieces> source_;
  std::vector<uint8_t> piece_;
  std::vector<uint8_t>* out_ = nullptr;
  bool sourceEnded_ = false;
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

  Status Interruption() const override { return source_->Interruption(); }

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (silenceBytes_ == 0) return source_->Next(out);
    if (Status going = source_->Interruption(); !going) return going.error();
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
// A kept block is reserved at this size, and a new one begun while less than kKeptBlockRoom is
// free in the last: a piece of up to that size is appended without moving the block.
constexpr std::size_t kKeptBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kKeptBlockRoom = std::size_t{1} << 18;

class KeptPieces : public SoundPieces {
 public:
  // `source` is the spent pieces the blocks were counted from; they are asked whether to stop.
  KeptPieces(KeptBlocks blocks, std::unique_ptr<SoundPieces> source)
      : blocks_(std::move(blocks)), source_(std::move(source)) {
    SkipSpent();
  }

  Status Interruption() const override { return source_->Interruption(); }

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (Status going = source_->Interruption(); !going) return going.error();
    if (block_ == blocks_.size()) return false;
    const std::vector<uint8_t>& block = blocks_[block_];
    const std::size_t length = std::min(kKeptSliceBytes, block.size() - offset_);
    const auto first = block.begin() + static_cast<std::ptrdiff_t>(offset_);
    out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(length));
    offset_ += length;
    SkipSpent();
    return block_ < blocks_.size();
  }

 private:
  // Moves past the blocks handed out whole, freeing them.
  void SkipSpent() {
    while (block_ < blocks_.size() && offset_ == blocks_[block_].size()) {
      std::vector<uint8_t>().swap(blocks_[block_]);
      ++block_;
      offset_ = 0;
    }
  }

  KeptBlocks blocks_;
  std::unique_ptr<SoundPieces> source_;
  std::size_t block_ = 0;
  std::size_t offset_ = 0;
};

// The block the next piece is appended to.
std::vector<uint8_t>& BlockWithRoom(KeptBlocks& blocks) {
  if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < kKeptBlockRoom) {
    blocks.emplace_back().reserve(kKeptBlockBytes);
  }
  return blocks.back();
}

}  // namespace

Status StoppableSource::Interruption() const {
  if (stopped_ && stopped_()) return MakeError(ErrorKind::kStopped, path_, "reading the soundtrack was stopped");
  return {};
}

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
  counted_.reset();
  Result<std::unique_ptr<SoundPieces>> pieces = open_();
  if (!pieces) return pieces.error();
  // The pieces are appended to the kept bytes straight away while they fit.
  KeptBlocks kept;
  uint64_t counted = 0;
  bool more = true;
  while (more && counted <= budget_) {
    std::vector<uint8_t>& block = BlockWithRoom(kept);
    const std::size_t before = block.size();
    const Result<bool> next = (*pieces)->Next(block);
    if (!next) return next.error();
    counted += block.size() - before;
    more = *next;
  }
  if (counted <= budget_) {
    kept_ = std::move(kept);
    counted_ = std::move(*pieces);
    return counted;
  }
  KeptBlocks().swap(kept);
  if (!more) return counted;
  const Result<uint64_t> rest = CountPieces(**pieces);
  if (!rest) return rest.error();
  return counted + *rest;
}

Result<std::unique_ptr<SoundPieces>> CountedSound::Replay() {
  if (!kept_) return open_();
  std::unique_ptr<SoundPieces> pieces = std::make_unique<KeptPieces>(std::move(*kept_), std::move(counted_));
  kept_.reset();
  return pieces;
}

}  // namespace reel
