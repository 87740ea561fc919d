#include "platform/avifile/avi_file.h"

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

struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

}  // namespace

Result<AviFile> AviFile::Open(const std::string& path) {
  auto demuxer = AviDemuxer::Open(path);
  if (!demuxer) return demuxer.error();
  return AviFile(path, std::move(*demuxer));
}

Result<AviFrameReader> AviFile::OpenFrameReader(uint32_t stream) {
  if (demuxerLent_) return AviFrameReader::Open(path_, stream);
  // Nothing has read a packet from the file's own demuxer yet, so it stands where a fresh one would.
  demuxerLent_ = true;
  return AviFrameReader::Open(demuxer_, stream);
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
  // The demuxer keeps a stream's scale and rate as its time base (scale / rate seconds per unit).
  info.scale = ClampToU32(avStream.time_base.num);
  info.rate = ClampToU32(avStream.time_base.den);
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

}  // namespace reel
