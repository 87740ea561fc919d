#include "platform/avifile/avi_file.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <span>
#include <utility>

#include "common/byte_io.h"
#include "platform/avifile/avi_demuxer.h"

namespace reel {
namespace {

uint32_t StreamType(const AVCodecParameters& parameters) {
  switch (parameters.codec_type) {
    case AVMEDIA_TYPE_VIDEO: return kStreamTypeVideo;
    case AVMEDIA_TYPE_AUDIO: return kStreamTypeAudio;
    case AVMEDIA_TYPE_SUBTITLE: return kStreamTypeText;
    default: return kStreamTypeOther;
  }
}

uint32_t ClampToU32(int64_t value) {
  if (value <= 0) return 0;
  if (value > int64_t{UINT32_MAX}) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

uint32_t StreamLength(const AVStream& stream) {
  if (stream.nb_frames > 0) return ClampToU32(stream.nb_frames);
  if (stream.duration != AV_NOPTS_VALUE) return ClampToU32(stream.duration);
  return 0;
}

std::vector<uint8_t> BitmapInfoHeader(const AVCodecParameters& parameters) {
  std::vector<uint8_t> bytes(kBitmapInfoHeaderSize, 0);
  std::span<uint8_t> out(bytes);
  StoreU32(out.subspan<0, 4>(), kBitmapInfoHeaderSize);
  StoreU32(out.subspan<4, 4>(), static_cast<uint32_t>(parameters.width));
  StoreU32(out.subspan<8, 4>(), static_cast<uint32_t>(parameters.height));
  StoreU16(out.subspan<12, 2>(), 1);
  StoreU16(out.subspan<14, 2>(), static_cast<uint16_t>(parameters.bits_per_coded_sample));
  StoreU32(out.subspan<16, 4>(), parameters.codec_tag);
  return bytes;
}

std::vector<uint8_t> WaveFormatBlock(const AVCodecParameters& parameters) {
  const std::size_t extraSize =
      parameters.extradata_size > 0 ? std::min<std::size_t>(static_cast<std::size_t>(parameters.extradata_size), 0xFFFF) : 0;
  std::vector<uint8_t> bytes(18 + extraSize, 0);
  std::span<uint8_t> out(bytes);
  StoreU16(out.subspan<0, 2>(), static_cast<uint16_t>(parameters.codec_tag));
  StoreU16(out.subspan<2, 2>(), static_cast<uint16_t>(parameters.ch_layout.nb_channels));
  StoreU32(out.subspan<4, 4>(), static_cast<uint32_t>(parameters.sample_rate));
  StoreU32(out.subspan<8, 4>(), ClampToU32(parameters.bit_rate / 8));
  StoreU16(out.subspan<12, 2>(), static_cast<uint16_t>(parameters.block_align));
  StoreU16(out.subspan<14, 2>(), static_cast<uint16_t>(parameters.bits_per_coded_sample));
  StoreU16(out.subspan<16, 2>(), static_cast<uint16_t>(extraSize));
  for (std::size_t i = 0; i < extraSize; ++i) bytes[18 + i] = parameters.extradata[i];
  return bytes;
}

// A stream header's own time scale, rate and start (dwScale, dwRate, dwStart).
struct HeaderRate {
  uint32_t scale = 0;
  uint32_t rate = 0;
  uint32_t start = 0;
};

// The header list of an AVI is a few kilobytes (more with an OpenDML index); nothing sound
// comes near this.
constexpr uint32_t kMaxHeaderListBytes = 64u << 20;
constexpr std::size_t kChunkHeaderSize = 8;
// dwScale and dwRate lie at bytes 20 and 24 of a stream header, dwStart at 28.
constexpr std::size_t kStreamHeaderRateEnd = 28;
constexpr std::size_t kStreamHeaderStartEnd = 32;

bool IsFourCc(std::span<const uint8_t> bytes, const char* code) {
  return bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, code);
}

// Calls `visit(id, body)` for each chunk in `list`, in order; chunks are padded to even sizes. A
// chunk that claims more than is left is cut to what is there.
template <typename Visit>
void ForEachChunk(std::span<const uint8_t> list, Visit visit) {
  std::size_t at = 0;
  while (list.size() - at >= kChunkHeaderSize) {
    const std::span<const uint8_t> header = list.subspan(at, kChunkHeaderSize);
    const std::size_t size = std::min<std::size_t>(LoadU32(header.subspan<4, 4>()), list.size() - at - kChunkHeaderSize);
    visit(header.first(4), list.subspan(at + kChunkHeaderSize, size));
    at += kChunkHeaderSize + size + (size & 1);
    at = std::min(at, list.size());
  }
}

// The body of the file's header list ("LIST" "hdrl"), or nothing when there is none.
std::optional<std::vector<uint8_t>> ReadHeaderList(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::array<uint8_t, 12> chunk{};
  if (!file.read(reinterpret_cast<char*>(chunk.data()), 12)) return std::nullopt;  // "RIFF" size "AVI "
  while (file.read(reinterpret_cast<char*>(chunk.data()), 12)) {  // id, size, list type
    const uint32_t size = LoadU32(std::span<const uint8_t>(chunk).subspan<4, 4>());
    const bool isList = IsFourCc(chunk, "LIST");
    if (isList && IsFourCc(std::span<const uint8_t>(chunk).subspan(8), "hdrl")) {
      if (size < 4) return std::nullopt;
      // No more than the file holds: a damaged size must not cost a large cleared buffer.
      const std::streamoff here = file.tellg();
      file.seekg(0, std::ios::end);
      const std::streamoff end = file.tellg();
      file.seekg(here);
      const uint64_t left = here >= 0 && end > here ? static_cast<uint64_t>(end - here) : 0;
      const uint64_t length = std::min({uint64_t{size} - 4, uint64_t{kMaxHeaderListBytes}, left});
      std::vector<uint8_t> body(static_cast<std::size_t>(length));
      file.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body.size()));
      body.resize(static_cast<std::size_t>(file.gcount()));
      return body;
    }
    // Past this chunk: 8 header bytes and its padded body, of which 4 bytes were read.
    file.seekg(static_cast<std::streamoff>(uint64_t{size} + (size & 1)) - 4, std::ios::cur);
  }
  return std::nullopt;
}

// Every stream header's scale and rate, in file order (one per stream list "strl").
std::vector<HeaderRate> StreamHeaderRates(const std::string& path) {
  std::vector<HeaderRate> rates;
  const auto headerList = ReadHeaderList(path);
  if (!headerList) return rates;
  ForEachChunk(*headerList, [&rates](std::span<const uint8_t> id, std::span<const uint8_t> body) {
    if (!IsFourCc(id, "LIST") || !IsFourCc(body, "strl")) return;
    bool found = false;
    ForEachChunk(body.subspan(4), [&](std::span<const uint8_t> innerId, std::span<const uint8_t> inner) {
      if (found || !IsFourCc(innerId, "strh") || inner.size() < kStreamHeaderRateEnd) return;
      found = true;
      const uint32_t start = inner.size() >= kStreamHeaderStartEnd ? LoadU32(inner.subspan<28, 4>()) : 0;
      rates.push_back({LoadU32(inner.subspan<20, 4>()), LoadU32(inner.subspan<24, 4>()), start});
    });
  });
  return rates;
}

struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

}  // namespace

Result<AviFile> AviFile::Open(const std::string& path) {
  auto demuxer = AviDemuxer::Open(path);
  if (!demuxer) return demuxer.error();
  return AviFile(path, std::move(*demuxer));
}

Result<AviFrameReader> AviFile::OpenFrameReader(uint32_t stream, DecoderThreads threads) {
  if (demuxerLent_) return AviFrameReader::Open(path_, stream, threads);
  // Nothing has read a packet from the file's own demuxer yet, so it stands where a fresh one would.
  demuxerLent_ = true;
  return AviFrameReader::Open(demuxer_, stream, threads);
}

AviFile::AviFile(std::string path, std::shared_ptr<AviDemuxer> demuxer)
    : path_(std::move(path)), demuxer_(std::move(demuxer)) {}
AviFile::AviFile(AviFile&&) noexcept = default;
AviFile& AviFile::operator=(AviFile&&) noexcept = default;
AviFile::~AviFile() = default;

uint32_t AviFile::StreamCount() const { return demuxer_->StreamCount(); }

AviStreamInfo AviFile::StreamInfo(uint32_t stream) const {
  AviStreamInfo info;
  if (stream >= StreamCount()) return info;
  const AVStream& avStream = *demuxer_->Stream(stream);
  info.fccType = StreamType(*avStream.codecpar);
  // The scale and rate are the stream header's own: the demuxer's time base is their fraction
  // reduced, and stands in 25 frames per second for a rate or scale of 0. The header is read
  // afresh (it is small); the time base serves only when the stream headers cannot be matched
  // with the demuxer's streams.
  const std::vector<HeaderRate> rates = StreamHeaderRates(path_);
  if (rates.size() == StreamCount()) {
    info.scale = rates[stream].scale;
    info.rate = rates[stream].rate;
    info.start = rates[stream].start;
  } else {
    info.scale = ClampToU32(avStream.time_base.num);
    info.rate = ClampToU32(avStream.time_base.den);
  }
  info.length = StreamLength(avStream);
  return info;
}

std::vector<uint8_t> AviFile::ReadFormat(uint32_t stream) const {
  if (stream >= StreamCount()) return {};
  const AVCodecParameters& parameters = *demuxer_->Stream(stream)->codecpar;
  if (parameters.codec_type == AVMEDIA_TYPE_VIDEO) return BitmapInfoHeader(parameters);
  if (parameters.codec_type == AVMEDIA_TYPE_AUDIO) return WaveFormatBlock(parameters);
  return {};
}

std::optional<std::vector<uint8_t>> AviFile::ReadWholeStream(uint32_t stream) const {
  if (stream >= StreamCount()) return std::nullopt;
  // A reader of its own, so the position of this file's demuxer never matters.
  auto opened = AviDemuxer::Open(path_);
  if (!opened) return std::nullopt;
  const std::unique_ptr<AviDemuxer>& reader = *opened;
  for (unsigned i = 0; i < reader->StreamCount(); ++i) {
    reader->Stream(i)->discard = i == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!packet) return std::nullopt;
  std::vector<uint8_t> data;
  while (reader->NextPacket(stream, packet.get())) {
    const auto size = static_cast<std::size_t>(packet->size);
    if (data.size() + size > kMaxStreamBytes) return std::nullopt;
    data.insert(data.end(), packet->data, packet->data + size);
  }
  return data;
}

struct AviStreamPieces::State {
  std::unique_ptr<AviDemuxer> reader;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
  unsigned stream = 0;
};

AviStreamPieces::AviStreamPieces(std::unique_ptr<State> state) : state_(std::move(state)) {}
AviStreamPieces::AviStreamPieces(AviStreamPieces&&) noexcept = default;
AviStreamPieces& AviStreamPieces::operator=(AviStreamPieces&&) noexcept = default;
AviStreamPieces::~AviStreamPieces() = default;

std::optional<std::span<const uint8_t>> AviStreamPieces::Next() {
  av_packet_unref(state_->packet.get());
  if (!state_->reader->NextPacket(state_->stream, state_->packet.get())) return std::nullopt;
  return std::span<const uint8_t>(state_->packet->data, static_cast<std::size_t>(state_->packet->size));
}

// Touches nothing of this file but its path, so it may be called while a frame reader works on the
// file's own demuxer on another thread.
std::optional<AviStreamPieces> AviFile::ReadStreamPieces(uint32_t stream) const {
  auto opened = AviDemuxer::Open(path_);
  if (!opened || stream >= (*opened)->StreamCount()) return std::nullopt;
  auto state = std::make_unique<AviStreamPieces::State>();
  state->reader = std::move(*opened);
  state->stream = stream;
  for (unsigned i = 0; i < state->reader->StreamCount(); ++i) {
    state->reader->Stream(i)->discard = i == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  state->packet.reset(av_packet_alloc());
  if (!state->packet) return std::nullopt;
  return AviStreamPieces(std::move(state));
}

}  // namespace reel
