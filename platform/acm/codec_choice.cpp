#include "platform/acm/codec_choice.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstring>

namespace reel::acm {
namespace {

constexpr uint32_t kLowestRate = 1000;
constexpr uint32_t kHighestRate = 192000;
// Bytes per packet for sample codecs whose blocks are tiny (A-law, mu-law, float).
constexpr std::size_t kSampleCodecPacketBytes = 16384;

// The tag a format really has: an extensible record names its sub-format in the first two bytes
// of the GUID that follows the valid-bits and channel-mask fields.
uint16_t EffectiveTag(const AudioFormat& format) {
  if (format.wave.formatTag != kWaveFormatExtensible || format.extra.size() < 22) return format.wave.formatTag;
  return static_cast<uint16_t>(format.extra[6] | (format.extra[7] << 8));
}

// The codecs DecoderFor names by their tags; their decoders are fed as they always were.
bool IsNamedCodec(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_PCM_S24LE: case AV_CODEC_ID_PCM_S32LE: case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64LE: case AV_CODEC_ID_ADPCM_MS: case AV_CODEC_ID_ADPCM_IMA_WAV:
    case AV_CODEC_ID_PCM_ALAW: case AV_CODEC_ID_PCM_MULAW: case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3: case AV_CODEC_ID_AC3:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsPlainPcm(const WAVEFORMATEX& format) {
  return format.formatTag == kWaveFormatPcm && (format.bitsPerSample == 8 || format.bitsPerSample == 16);
}

bool RateAllowed(uint32_t rate) { return rate >= kLowestRate && rate <= kHighestRate; }

bool IsUsableDestination(const WAVEFORMATEX& format) {
  return IsPlainPcm(format) && (format.channels == 1 || format.channels == 2) &&
         RateAllowed(format.samplesPerSec);
}

std::size_t FrameBytes(const WAVEFORMATEX& format) {
  return static_cast<std::size_t>(format.channels) * (format.bitsPerSample / 8u);
}

AVSampleFormat PcmSampleFormat(uint16_t bits) { return bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16; }

AVCodecID DecoderFor(const AudioFormat& format) {
  const uint16_t bits = format.wave.bitsPerSample;
  switch (EffectiveTag(format)) {
    case kWaveFormatPcm:
      if (bits == 24) return AV_CODEC_ID_PCM_S24LE;
      if (bits == 32) return AV_CODEC_ID_PCM_S32LE;
      return AV_CODEC_ID_NONE;
    case kWaveFormatIeeeFloat:
      if (bits == 32) return AV_CODEC_ID_PCM_F32LE;
      if (bits == 64) return AV_CODEC_ID_PCM_F64LE;
      return AV_CODEC_ID_NONE;
    case kWaveFormatMsAdpcm: return AV_CODEC_ID_ADPCM_MS;
    case kWaveFormatImaAdpcm: return AV_CODEC_ID_ADPCM_IMA_WAV;
    case kWaveFormatAlaw: return AV_CODEC_ID_PCM_ALAW;
    case kWaveFormatMulaw: return AV_CODEC_ID_PCM_MULAW;
    case kWaveFormatMpeg: return AV_CODEC_ID_MP2;
    case kWaveFormatMpegLayer3: return AV_CODEC_ID_MP3;
    case kWaveFormatAc3: return AV_CODEC_ID_AC3;
    default: break;
  }
  // Any other tag: whatever decoder the media libraries register for it (AAC, WMA, GSM, ...).
  const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
  const AVCodecID codec = av_codec_get_id(tags, EffectiveTag(format));
  return avcodec_find_decoder(codec) != nullptr ? codec : AV_CODEC_ID_NONE;
}

Framing FramingFor(const AudioFormat& format, AVCodecID codec) {
  if (codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_AC3) return Framing::kParser;
  if (IsNamedCodec(codec)) return Framing::kBlocks;
  // Raw frames of a codec whose set-up travels in the format's codec data (AAC with its
  // configuration) have no headers to cut them by; frames with headers (ADTS AAC) do.
  if (format.extra.empty()) {
    if (ParserPtr parser(av_parser_init(codec)); parser) return Framing::kParser;
  }
  if (format.wave.blockAlign > 1 && codec != AV_CODEC_ID_AAC) return Framing::kBlocks;
  return Framing::kWhole;
}

bool TakesWholeBlocksOnly(AVCodecID codec) {
  return codec == AV_CODEC_ID_PCM_ALAW || codec == AV_CODEC_ID_PCM_MULAW || codec == AV_CODEC_ID_PCM_S24LE ||
         codec == AV_CODEC_ID_PCM_S32LE || codec == AV_CODEC_ID_PCM_F32LE || codec == AV_CODEC_ID_PCM_F64LE;
}

std::size_t PacketBytes(const WAVEFORMATEX& source, AVCodecID codec) {
  const std::size_t blockBytes = source.blockAlign;
  if (!TakesWholeBlocksOnly(codec)) return blockBytes;
  return std::max<std::size_t>(1, kSampleCodecPacketBytes / blockBytes) * blockBytes;
}

CodecContextPtr OpenDecoder(const AudioFormat& source, AVCodecID codecId) {
  // A damaged stream is reported as a failed conversion; the decoder's own messages would only
  // interleave with the program's.
  av_log_set_level(AV_LOG_QUIET);
  const AVCodec* codec = avcodec_find_decoder(codecId);
  if (codec == nullptr) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return nullptr;
  context->sample_rate = static_cast<int>(source.wave.samplesPerSec);
  av_channel_layout_default(&context->ch_layout, source.wave.channels);
  context->block_align = source.wave.blockAlign;
  context->bits_per_coded_sample = source.wave.bitsPerSample;
  context->bit_rate = static_cast<int64_t>(source.wave.avgBytesPerSec) * 8;
  if (!source.extra.empty()) {
    context->extradata = static_cast<uint8_t*>(av_mallocz(source.extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (context->extradata == nullptr) return nullptr;
    std::memcpy(context->extradata, source.extra.data(), source.extra.size());
    context->extradata_size = static_cast<int>(source.extra.size());
  }
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  return context;
}

bool SourceIsConvertible(const AudioFormat& source) {
  const WAVEFORMATEX& wave = source.wave;
  if (!RateAllowed(wave.samplesPerSec)) return false;
  if (IsPlainPcm(wave)) return wave.channels == 1 || wave.channels == 2;
  if (wave.channels == 0 || wave.channels > 8) return false;
  const AVCodecID codec = DecoderFor(source);
  if (codec == AV_CODEC_ID_NONE) return false;
  if (FramingFor(source, codec) == Framing::kBlocks && wave.blockAlign == 0) return false;
  return OpenDecoder(source, codec) != nullptr;
}

}  // namespace reel::acm
