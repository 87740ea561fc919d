// OggStream: libvorbisfile reading through the stream's byte source, the lead-in decoded directly
// with libogg and libvorbis, and whole-packet seeks.
//
// libvorbisfile counts positions from the sound's start, so its seeks take sound positions; its
// tell is used only right after a page seek, where it is counted the same way (while it reads, a
// stream whose first page starts after 0 reports positions from the file's own origin).
#include "player/audio/ogg_stream.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

namespace reel {
namespace {

// The most sample frames one read of libvorbisfile gives: half the longest Vorbis block.
constexpr int kPieceFrames = 4096;
// Holes (a page lost or damaged) in a row before the data counts as ended.
constexpr int kMostHoles = 16;
// How far the lead-in looks for the first page whose granule position lies after 0.
constexpr std::size_t kLeadInScanBytes = 256 * 1024;
constexpr std::size_t kScanPieceBytes = 4096;

int16_t ToSample(float value) {
  const long scaled = std::lrint(value * 32768.0f);
  return static_cast<int16_t>(std::clamp<long>(scaled, -32768, 32767));
}

// Appends `frames` sample frames of per-channel floats, interleaved as 16-bit samples.
void AppendInterleaved(std::vector<int16_t>& out, float** pcm, int channels, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) out.push_back(ToSample(pcm[c][i]));
  }
}

}  // namespace

struct OggStream::Decoder {
  SoundSource* source = nullptr;
  uint64_t position = 0;  // the reader's place in the source
  OggVorbis_File file{};
  bool open = false;

  ~Decoder() {
    if (open) ov_clear(&file);
  }

  static std::size_t Read(void* into, std::size_t size, std::size_t count, void* self) {
    auto& decoder = *static_cast<Decoder*>(self);
    std::size_t wanted = size * count;
    auto* out = static_cast<uint8_t*>(into);
    std::size_t got = 0;
    while (got < wanted) {
      const std::span<const uint8_t> bytes = decoder.source->View(decoder.position, wanted - got);
      if (bytes.empty()) break;
      std::memcpy(out + got, bytes.data(), bytes.size());
      got += bytes.size();
      decoder.position += bytes.size();
    }
    return size == 0 ? 0 : got / size;
  }
  static int Seek(void* self, ogg_int64_t offset, int whence) {
    auto& decoder = *static_cast<Decoder*>(self);
    const auto size = static_cast<ogg_int64_t>(decoder.source->Size());
    const ogg_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<ogg_int64_t>(decoder.position) : size;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
    const ogg_int64_t to = base + offset;
    if (to < 0) return -1;
    decoder.position = static_cast<uint64_t>(to);
    return 0;
  }
  static long Tell(void* self) { return static_cast<long>(static_cast<Decoder*>(self)->position); }
};

namespace {

// The samples a stream has before granule position 0, decoded here because libvorbis would drop
// the wrong ones: from the first audio page to the page after the first with a granule position,
// and on to the first whose granule position lies after 0.
struct LeadIn {
  std::vector<int16_t> samples;  // the sound's first samples, interleaved
  std::vector<uint64_t> packetEnds;
  uint64_t end = 0;              // the granule position where the lead-in ends
  bool wholeStream = false;      // the last page was among them
};

class LeadInDecoder {
 public:
  LeadInDecoder(SoundSource& source, vorbis_info& info, long serial) : source_(source), info_(info) {
    ogg_sync_init(&sync_);
    ogg_stream_init(&stream_, static_cast<int>(serial));
    vorbis_synthesis_init(&dsp_, &info_);
    vorbis_block_init(&dsp_, &block_);
  }
  ~LeadInDecoder() {
    vorbis_block_clear(&block_);
    vorbis_dsp_clear(&dsp_);
    ogg_stream_clear(&stream_);
    ogg_sync_clear(&sync_);
  }
  LeadInDecoder(const LeadInDecoder&) = delete;
  LeadInDecoder& operator=(const LeadInDecoder&) = delete;

  // None when the stream has nothing before position 0 (or the pages that say so are not found).
  std::optional<LeadIn> Decode() {
    std::optional<int64_t> skip;  // decoded samples before position 0
    ogg_page page;
    while (NextPage(page)) {
      if (ogg_page_serialno(&page) != stream_.serialno) continue;
      ogg_stream_pagein(&stream_, &page);
      TakePackets();
      const ogg_int64_t granule = ogg_page_granulepos(&page);
      // -1 is no position; streams cut from others may carry other negative ones.
      if (headers_ < 3 || lastBlock_ < 0 || granule == -1) continue;
      const bool eos = ogg_page_eos(&page) != 0;
      if (skip) {
        if (granule > 0 || eos) return Finish(*skip, granule, eos);
        continue;
      }
      // The first decoded sample lies at granule - counted. The last page's position says where
      // the sound ends instead, so a stream of one audio page has nothing cut at its start.
      const int64_t start = granule - counted_;
      if (start >= 0 || eos) return std::nullopt;
      skip = -start;
      // One page more: libvorbisfile cannot start exactly at the end of the first page that has
      // a granule position (it would decode that page again, as at the start).
    }
    return std::nullopt;
  }

 private:
  bool NextPage(ogg_page& page) {
    while (ogg_sync_pageout(&sync_, &page) != 1) {
      if (offset_ >= kLeadInScanBytes) return false;
      const std::span<const uint8_t> bytes = source_.View(offset_, kScanPieceBytes);
      if (bytes.empty()) return false;
      char* buffer = ogg_sync_buffer(&sync_, static_cast<long>(bytes.size()));
      if (buffer == nullptr) return false;
      std::memcpy(buffer, bytes.data(), bytes.size());
      ogg_sync_wrote(&sync_, static_cast<long>(bytes.size()));
      offset_ += bytes.size();
    }
    return true;
  }

  void TakePackets() {
    ogg_packet packet;
    while (ogg_stream_packetout(&stream_, &packet) == 1) {
      if (headers_ < 3) {
        ++headers_;
        continue;
      }
      const long blockSize = vorbis_packet_blocksize(&info_, &packet);
      if (blockSize < 0) continue;  // not an audio packet: libvorbis skips it too
      if (lastBlock_ >= 0) counted_ += (lastBlock_ + blockSize) / 4;
      lastBlock_ = blockSize;
      // Without a granule position libvorbis trims nothing on its own.
      packet.granulepos = -1;
      if (vorbis_synthesis(&block_, &packet) == 0) vorbis_synthesis_blockin(&dsp_, &block_);
      float** pcm = nullptr;
      int frames = 0;
      while ((frames = vorbis_synthesis_pcmout(&dsp_, &pcm)) > 0) {
        AppendInterleaved(decoded_, pcm, info_.channels, static_cast<std::size_t>(frames));
        vorbis_synthesis_read(&dsp_, frames);
      }
      packetEnds_.push_back(decoded_.size() / static_cast<std::size_t>(info_.channels));
    }
  }

  LeadIn Finish(int64_t skip, int64_t granule, bool eos) {
    LeadIn lead;
    const auto channels = static_cast<std::size_t>(info_.channels);
    const auto first = std::min<std::size_t>(static_cast<std::size_t>(skip), decoded_.size() / channels);
    const auto last = std::min<std::size_t>(decoded_.size() / channels, first + static_cast<std::size_t>(std::max<int64_t>(granule, 0)));
    lead.samples.assign(decoded_.begin() + static_cast<std::ptrdiff_t>(first * channels),
                        decoded_.begin() + static_cast<std::ptrdiff_t>(last * channels));
    for (const std::size_t end : packetEnds_) {
      if (end > first && end <= last) lead.packetEnds.push_back(end - first);
    }
    lead.end = static_cast<uint64_t>(std::max<int64_t>(granule, 0));
    lead.wholeStream = eos;
    return lead;
  }

  SoundSource& source_;
  vorbis_info& info_;
  ogg_sync_state sync_{};
  ogg_stream_state stream_{};
  vorbis_dsp_state dsp_{};
  vorbis_block block_{};
  std::size_t offset_ = 0;
  int headers_ = 0;
  long lastBlock_ = -1;
  int64_t counted_ = 0;
  std::vector<int16_t> decoded_;
  std::vector<std::size_t> packetEnds_;
};

}  // namespace

OggStream::OggStream() = default;
OggStream::~OggStream() { Close(); }

bool OggStream::IsOpen() const { return decoder_ != nullptr; }

Status OggStream::OpenMemory(std::span<const uint8_t> data, const std::string& name) {
  Close();
  source_ = SoundSource(data);
  name_ = name;
  return OpenData();
}

Status OggStream::OpenFile(const std::string& path) {
  Close();
  Result<SoundSource> source = SoundSource::OpenFile(path);
  if (!source) return source.error();
  source_ = std::move(*source);
  name_ = path;
  return OpenData();
}

void OggStream::Close() {
  decoder_.reset();
  source_ = SoundSource();
  pending_.clear();
  pendingPos_ = 0;
  leadPacketEnds_.clear();
  leadEnd_ = 0;
  link_ = 0;
}

Status OggStream::OpenData() {
  decoder_.reset();
  pending_.clear();
  pendingPos_ = 0;
  leadPacketEnds_.clear();
  leadEnd_ = 0;
  decoderDone_ = false;
  finished_ = false;
  auto decoder = std::make_unique<Decoder>();
  decoder->source = &source_;
  const ov_callbacks callbacks{&Decoder::Read, &Decoder::Seek, nullptr, &Decoder::Tell};
  if (ov_open_callbacks(decoder.get(), &decoder->file, nullptr, 0, callbacks) != 0) {
    return MakeError(ErrorKind::kNotThisFormat, name_, "no Ogg Vorbis sound");
  }
  decoder->open = true;
  vorbis_info* info = ov_info(&decoder->file, 0);
  if (info == nullptr || (info->channels != 1 && info->channels != 2) || info->rate <= 0) {
    const std::string what = info == nullptr ? "no Vorbis stream"
                                             : std::to_string(info->channels) + " channels at " +
                                                   std::to_string(info->rate) + " Hz";
    return MakeError(ErrorKind::kUnsupported, name_, what);
  }
  format_ = PcmFormat{static_cast<uint16_t>(info->channels), static_cast<uint32_t>(info->rate)};
  link_ = 0;
  LeadInDecoder leadIn(source_, *info, ov_serialnumber(&decoder->file, 0));
  if (std::optional<LeadIn> lead = leadIn.Decode()) {
    pending_ = std::move(lead->samples);
    leadPacketEnds_ = std::move(lead->packetEnds);
    leadEnd_ = lead->end;
    // libvorbisfile goes on from the end of the lead-in, or not at all when it was the whole stream.
    if (lead->wholeStream) leadEnd_ = UINT64_MAX;  // every seek is then a seek within the lead-in
    decoderDone_ = lead->wholeStream || ov_pcm_seek(&decoder->file, static_cast<ogg_int64_t>(leadEnd_)) != 0;
  }
  decoder_ = std::move(decoder);
  return {};
}

bool OggStream::Restart() { return OpenData().ok(); }

std::size_t OggStream::TakePending(std::span<int16_t> samples) {
  const std::size_t count = std::min(samples.size(), pending_.size() - pendingPos_);
  std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingPos_), count, samples.begin());
  pendingPos_ += count;
  if (pendingPos_ == pending_.size()) {
    pending_.clear();
    pendingPos_ = 0;
  }
  return count;
}

std::size_t OggStream::DecodePiece() {
  if (decoder_ == nullptr || decoderDone_) return 0;
  for (int holes = 0; holes < kMostHoles; ++holes) {
    float** pcm = nullptr;
    int link = 0;
    const long frames = ov_read_float(&decoder_->file, &pcm, kPieceFrames, &link);
    if (frames == OV_HOLE) continue;
    if (frames <= 0) return 0;
    if (link != link_) {
      const vorbis_info* info = ov_info(&decoder_->file, link);
      if (info == nullptr || info->channels != format_.channels ||
          info->rate != static_cast<long>(format_.sampleRate)) {
        return 0;
      }
      link_ = link;
    }
    AppendInterleaved(pending_, pcm, format_.channels, static_cast<std::size_t>(frames));
    return static_cast<std::size_t>(frames);
  }
  return 0;
}

std::size_t OggStream::ReadPcm(std::span<int16_t> samples, bool loop) {
  if (decoder_ == nullptr) {
    finished_ = true;
    return 0;
  }
  std::size_t delivered = TakePending(samples);
  bool passGaveSound = delivered > 0;
  while (delivered < samples.size()) {
    if (DecodePiece() == 0) {
      // A looping stream starts over, unless a whole pass gave no sound (that would spin here).
      if (!loop || !passGaveSound || !Restart()) {
        finished_ = true;
        return delivered;
      }
      passGaveSound = false;
    }
    const std::size_t taken = TakePending(samples.subspan(delivered));
    passGaveSound |= taken > 0;
    delivered += taken;
  }
  return delivered;
}

uint64_t OggStream::Seek(uint64_t frame) {
  pending_.clear();
  pendingPos_ = 0;
  finished_ = true;
  decoderDone_ = true;  // where a seek that fails leaves the stream: at its end
  if (decoder_ == nullptr) return frame;
  const ogg_int64_t total = ov_pcm_total(&decoder_->file, -1);
  if (total >= 0 && frame >= static_cast<uint64_t>(total)) return frame;
  if (frame < leadEnd_ || frame == 0) {
    // Within the lead-in: from the start, less the whole packets before the frame.
    if (!Restart()) return frame;
    uint64_t landed = 0;
    for (const uint64_t end : leadPacketEnds_) {
      if (end <= frame) landed = end;
    }
    pendingPos_ = static_cast<std::size_t>(landed) * format_.channels;
    if (pendingPos_ >= pending_.size()) {
      pending_.clear();
      pendingPos_ = 0;
    }
    return landed;
  }
  OggVorbis_File& file = decoder_->file;
  if (ov_pcm_seek_page(&file, static_cast<ogg_int64_t>(frame)) != 0) return frame;
  decoderDone_ = false;
  auto at = static_cast<uint64_t>(std::max<ogg_int64_t>(ov_pcm_tell(&file), 0));
  if (at < leadEnd_) {
    if (ov_pcm_seek(&file, static_cast<ogg_int64_t>(leadEnd_)) != 0) return frame;
    at = leadEnd_;
  }
  for (;;) {
    const std::size_t frames = DecodePiece();
    if (frames == 0) return frame;
    if (at + frames > frame) break;
    at += frames;
    pending_.clear();
  }
  finished_ = false;
  return at;
}

}  // namespace reel
