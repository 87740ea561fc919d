// Which decoder a source format takes and how a soundtrack's bytes reach it, for the whole-buffer
// audio conversion (acm_stream.h); and the owning handles of the media libraries' objects.
//
// PCM sources of 8 or 16 bits need no decoder. Every other source is decoded by the libavcodec
// decoder that its format tag names. MPEG audio and AC-3 are cut into frames by the codec's
// parser, since a stream header gives no frame size for them; block codecs (ADPCM) get one block
// per packet and sample codecs (A-law, mu-law, float) a run of whole blocks. Any other codec the
// libraries know for the tag is cut by its parser when its frames carry headers, by block when it
// has blocks, and otherwise (raw AAC frames) handed over whole, the decoder taking one frame after
// another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "platform/acm/wave_format.h"

namespace reel::acm {

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct ParserDeleter {
  void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ResamplerDeleter {
  void operator()(SwrContext* context) const { swr_free(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;

// PCM of 8 or 16 bits: what the resampler takes without a decoder.
bool IsPlainPcm(const WAVEFORMATEX& format);
// Rates outside 1,000 ... 192,000 Hz are refused: they come only from damaged headers, and a huge
// ratio between two rates would ask for an absurd amount of memory.
bool RateAllowed(uint32_t rate);
bool IsUsableDestination(const WAVEFORMATEX& format);
std::size_t FrameBytes(const WAVEFORMATEX& format);
AVSampleFormat PcmSampleFormat(uint16_t bits);

// The decoder for a source that is not plain PCM, or AV_CODEC_ID_NONE when there is none.
AVCodecID DecoderFor(const AudioFormat& format);

// How the bytes of a soundtrack read whole reach the decoder.
enum class Framing {
  kParser,  // cut into frames by the codec's parser (frames that carry their own headers)
  kBlocks,  // one block (block align bytes) per packet, or runs of blocks for sample codecs
  kWhole,   // all in one packet: the decoder takes frame after frame from it
};

Framing FramingFor(const AudioFormat& format, AVCodecID codec);

// With kBlocks framing: the bytes of one packet, and whether a packet must hold whole blocks only
// (sample codecs; a block coder gets a cut-short last block and decodes what it can of it).
std::size_t PacketBytes(const WAVEFORMATEX& source, AVCodecID codec);
bool TakesWholeBlocksOnly(AVCodecID codec);

// A decoder opened for the source format, or null when none exists or it refuses the parameters.
CodecContextPtr OpenDecoder(const AudioFormat& source, AVCodecID codec);

// A conversion from `source` can be made: a usable rate and channel count, and a decoder that
// opens for it when it is not plain PCM.
bool SourceIsConvertible(const AudioFormat& source);

}  // namespace reel::acm
