#include "platform/videodecoding/decoder_threads.h"

#include <gtest/gtest.h>

namespace reel {
namespace {

struct Case {
  const char* what;
  DecoderThreads threads;
  DecodingLoad load;
  int count;
};

TEST(DecoderThreadsTest, ThreadsWhereDecodingIsTheLargerPart) {
  const Case cases[] = {
      {"auto stays auto", DecoderThreads::kAuto, {AV_CODEC_ID_MPEG4, 320, 240, {25, 1}, 2}, 0},
      {"one stays one", DecoderThreads::kOne, {AV_CODEC_ID_H264, 1920, 1080, {60, 1}, 8}, 1},
      {"H.264 720p30 on two", DecoderThreads::kFitted, {AV_CODEC_ID_H264, 1280, 720, {30, 1}, 2}, 0},
      {"H.264 640x360 on two", DecoderThreads::kFitted, {AV_CODEC_ID_H264, 640, 360, {24000, 1001}, 2}, 1},
      {"HEVC 1080p25 on two", DecoderThreads::kFitted, {AV_CODEC_ID_HEVC, 1920, 1080, {25, 1}, 2}, 0},
      {"MPEG-4 part 2 720p25 on two", DecoderThreads::kFitted, {AV_CODEC_ID_MPEG4, 1280, 720, {25, 1}, 2}, 1},
      {"MPEG-2 1080p50 on two", DecoderThreads::kFitted, {AV_CODEC_ID_MPEG2VIDEO, 1920, 1080, {50, 1}, 2}, 0},
      {"MPEG-1 640x480 on one", DecoderThreads::kFitted, {AV_CODEC_ID_MPEG1VIDEO, 640, 480, {30, 1}, 1}, 1},
      {"MPEG-4 part 2 on four", DecoderThreads::kFitted, {AV_CODEC_ID_MPEG4, 640, 480, {30, 1}, 4}, 0},
      {"no declared rate", DecoderThreads::kFitted, {AV_CODEC_ID_MPEG4, 640, 480, {0, 0}, 2}, 0},
      {"no size", DecoderThreads::kFitted, {AV_CODEC_ID_H264, 0, 0, {30, 1}, 2}, 0},
      {"huge numbers do not overflow", DecoderThreads::kFitted, {AV_CODEC_ID_H264, 1 << 30, 1 << 30, {1 << 30, 1}, 2}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(DecoderThreadCount(c.threads, c.load), c.count) << c.what;
}

}  // namespace
}  // namespace reel
