// How many threads a video decoder may use.
//
// A conversion does more than decode: every kept picture is converted, scaled and coded, and the
// soundtrack encoded, on threads of its own. Where decoding is the smaller part of that work, the
// decoder's own threads only compete with the rest for the processors, and frame threads cost
// more processor time per picture than one thread does (each holds a picture of its own and
// waits on the others). So a job's decoder gets its threads only where decoding is the larger
// part: costly codecs at high pixel rates, or a machine with processors to spare. The pictures
// are the same however many threads decode them.
#pragma once

#include <cstdint>  // before libavutil, which needs UINT64_C in C++

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/rational.h>
}

struct AVStream;

namespace reel {

enum class DecoderThreads {
  kAuto,    // as many as the machine offers
  kOne,     // one (no thread start-up on each opening)
  kFitted,  // as many as the machine offers where decoding is the job's larger part, else one
};

// What the choice depends on: the stream's codec, picture size and declared rate (0/0 when it
// declares none), and the processors the machine offers.
struct DecodingLoad {
  AVCodecID codec = AV_CODEC_ID_NONE;
  int width = 0;
  int height = 0;
  AVRational rate{0, 1};
  int processors = 1;
};

// The value for AVCodecContext::thread_count: 0 (libavcodec picks, as many as the machine
// offers) or 1.
int DecoderThreadCount(DecoderThreads threads, const DecodingLoad& load);

// The same for a video stream (its average rate, else its base rate), on the machine this runs on.
int DecoderThreadCount(DecoderThreads threads, const AVStream& video);

}  // namespace reel
