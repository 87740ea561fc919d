// The AVI layer on clips made here: stream headers, format blocks, whole-stream reads, and
// pictures delivered as bottom-up 24-bit DIBs whatever the codec, in any order of request.
#include "platform/avifile/avi_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "common/byte_io.h"
#include "platform/acm/wave_format.h"
#include "platform/avifile/avi_frame_reader.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

class AviFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }
  // 64 x 64: red above, blue below, at 12.5 frames per second, with a second of 16-bit sound.
  std::string MakeClip(const std::string& name, const std::string& codec) {
    const std::string path = folder_.File(name);
    EXPECT_TRUE(test::RunFfmpegTool("-f lavfi -i color=c=red:s=64x64:r=25/2,drawbox=x=0:y=32:w=64:h=32:color=blue:t=fill "
                                    "-f lavfi -i sine=sample_rate=8000:duration=1 -frames:v 10 -c:v " + codec +
                                    " -c:a pcm_s16le '" + path + "'"));
    return path;
  }
  test::ScratchFolder folder_;
};

uint32_t U32(const std::vector<uint8_t>& bytes, std::size_t at) {
  return LoadU32(std::span<const uint8_t>(bytes).subspan(at).first<4>());
}

TEST_F(AviFileTest, StreamsHeadersAndFormats) {
  const std::string path = MakeClip("clip.avi", "mjpeg");
  const auto file = AviFile::Open(path);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->StreamCount(), 2u);
  const AviStreamInfo video = file->StreamInfo(0);
  EXPECT_EQ(video.fccType, kStreamTypeVideo);
  EXPECT_EQ(video.scale, 2u);
  EXPECT_EQ(video.rate, 25u);
  EXPECT_EQ(video.length, 10u);
  const auto bitmapInfo = file->ReadFormat(0);
  ASSERT_EQ(bitmapInfo.size(), kBitmapInfoHeaderSize);
  EXPECT_EQ(U32(bitmapInfo, 4), 64u);
  EXPECT_EQ(U32(bitmapInfo, 8), 64u);

  EXPECT_EQ(file->StreamInfo(1).fccType, kStreamTypeAudio);
  const auto format = ReadAudioFormat(file->ReadFormat(1));
  ASSERT_TRUE(format);
  EXPECT_EQ(format->wave.formatTag, kWaveFormatPcm);
  EXPECT_EQ(format->wave.channels, 1);
  EXPECT_EQ(format->wave.samplesPerSec, 8000u);
  EXPECT_EQ(format->wave.blockAlign, 2);
  EXPECT_EQ(format->wave.bitsPerSample, 16);
  const auto sound = file->ReadWholeStream(1);
  ASSERT_TRUE(sound);
  // L samples of nBlockAlign bytes (the muxer ends the sound with the last picture).
  EXPECT_EQ(sound->size(), std::size_t{file->StreamInfo(1).length} * 2);
  EXPECT_GT(sound->size(), 12000u);
  EXPECT_FALSE(file->ReadWholeStream(7));
  EXPECT_TRUE(file->ReadFormat(7).empty());
}

TEST_F(AviFileTest, PicturesAreBottomUpBgrWhateverTheCodec) {
  for (const char* codec : {"mjpeg", "rawvideo -pix_fmt bgr24", "mpeg4", "rawvideo -pix_fmt rgb555le"}) {
    const std::string path = MakeClip(std::string("pic") + std::to_string(codec[1]) + ".avi", codec);
    auto reader = AviFrameReader::Open(path, 0);
    ASSERT_TRUE(reader) << codec;
    const auto dib = reader->GetFrame(3);
    ASSERT_TRUE(dib) << codec;
    ASSERT_EQ(dib->size(), kBitmapInfoHeaderSize + 64u * 64u * 3u);
    EXPECT_EQ(U32(*dib, 4), 64u);
    EXPECT_EQ(U32(*dib, 8), 64u);
    EXPECT_EQ(LoadU16(std::span<const uint8_t>(*dib).subspan(14).first<2>()), 24);
    const uint8_t* bottom = dib->data() + kBitmapInfoHeaderSize + 10 * 64 * 3;  // stored row 10
    const uint8_t* top = dib->data() + kBitmapInfoHeaderSize + 53 * 64 * 3;     // stored row 53
    EXPECT_GT(bottom[0], 200) << codec;  // blue
    EXPECT_LT(bottom[2], 60) << codec;
    EXPECT_GT(top[2], 200) << codec;  // red
    EXPECT_LT(top[0], 60) << codec;
  }
}

TEST_F(AviFileTest, FramesAskedForOutOfOrderAndRoomInFront) {
  const std::string path = MakeClip("order.avi", "mpeg4");
  auto reader = AviFrameReader::Open(path, 0);
  ASSERT_TRUE(reader);
  const auto late = reader->GetFrame(8);
  const auto early = reader->GetFrame(1);
  const auto again = reader->GetFrame(8);
  ASSERT_TRUE(late && early && again);
  EXPECT_EQ(*late, *again);
  const auto roomy = reader->GetFrame(9, 14);
  ASSERT_TRUE(roomy);
  EXPECT_EQ(roomy->size(), late->size() + 14);
  EXPECT_EQ(U32(*roomy, 14), kBitmapInfoHeaderSize);
  EXPECT_TRUE(reader->GetFrame(500));  // past the end: the last picture stands
  EXPECT_FALSE(AviFrameReader::Open(path, 1));  // the sound stream has no pictures
}

// The colour converter writing straight into the DIB gives the plain way's bytes, whatever the
// decoder's pixel format and for row widths of whole pixel groups or not (and odd heights), into
// new storage or reused.
TEST_F(AviFileTest, PicturesWrittenInPlaceOrConvertedLaterMatchThePlainWay) {
  const struct {
    const char* codec;
    const char* size;
  } cases[] = {{"mpeg4 -bf 2", "64x48"},
               {"mpeg4", "56x40"},
               {"mjpeg", "72x40"},
               {"rawvideo -pix_fmt yuv420p", "80x45"},
               {"rawvideo -pix_fmt yuv422p", "88x30"},
               {"rawvideo -pix_fmt bgr24", "40x21"},
               {"mpeg4", "70x36"},
               {"mjpeg", "35x17"}};
  int clip = 0;
  for (const auto& c : cases) {
    const std::string path = folder_.File("inplace" + std::to_string(clip++) + ".avi");
    ASSERT_TRUE(test::RunFfmpegTool(std::string("-f lavfi -i testsrc2=s=") + c.size + ":r=25 -frames:v 6 -c:v " +
                                    c.codec + " '" + path + "'"));
    auto direct = AviFrameReader::Open(path, 0);
    auto plain = AviFrameReader::Open(path, 0, DecoderThreads::kAuto, DibWriting::kPlain);
    ASSERT_TRUE(direct && plain) << c.codec;
    // Storage handed in is reused: the wrong size first, then each DIB, scribbled over, for the
    // next one, so that a byte left unwritten shows. The same picture grabbed and converted later
    // (on another converter, as a coder thread converts it) gives the same DIB.
    std::vector<uint8_t> storage(100, 0xEE);
    std::vector<uint8_t> lateStorage(100, 0xEE);
    AviFrameConverter converter;
    for (const uint32_t position : {0u, 3u, 5u}) {
      const auto expected = plain->GetFrame(position, 14, std::vector<uint8_t>(7, 0xEE));
      ASSERT_TRUE(expected) << c.codec << " " << c.size;
      auto dib = direct->GetFrame(position, 14, std::move(storage));
      ASSERT_TRUE(dib) << c.codec << " " << c.size;
      EXPECT_EQ(*dib, *expected) << c.codec << " " << c.size << " frame " << position;
      storage = std::move(*dib);
      std::fill(storage.begin(), storage.end(), uint8_t{0xEE});
      const auto grabbed = direct->GrabFrame(position);
      ASSERT_TRUE(grabbed) << c.codec << " " << c.size;
      auto late = converter.Convert(*grabbed, 14, std::move(lateStorage));
      ASSERT_TRUE(late) << c.codec << " " << c.size;
      EXPECT_EQ(*late, *expected) << c.codec << " " << c.size << " frame " << position << ", converted later";
      lateStorage = std::move(*late);
      std::fill(lateStorage.begin(), lateStorage.end(), uint8_t{0xEE});
    }
  }
}

// One decoder thread gives the same pictures as many, in order and out of it.
TEST_F(AviFileTest, OneDecoderThreadGivesTheSamePictures) {
  const std::string path = MakeClip("threads.avi", "mpeg4 -bf 2");
  auto many = AviFrameReader::Open(path, 0);
  auto one = AviFrameReader::Open(path, 0, DecoderThreads::kOne);
  ASSERT_TRUE(many && one);
  for (const uint32_t position : {0u, 1u, 5u, 9u, 2u, 7u}) {
    const auto expected = many->GetFrame(position);
    ASSERT_TRUE(expected) << position;
    EXPECT_EQ(one->GetFrame(position), expected) << position;
  }
}

// The file opened for the stream headers serves the first frame reader; it must deliver exactly
// the pictures of a reader opened afresh, and later readers open the file again.
TEST_F(AviFileTest, TheFilesOwnReaderMatchesAFreshOne) {
  const std::string path = MakeClip("shared.avi", "mpeg4");
  auto file = AviFile::Open(path);
  ASSERT_TRUE(file);
  const auto format = file->ReadFormat(0);
  auto lent = file->OpenFrameReader(0);
  auto second = file->OpenFrameReader(0);
  auto fresh = AviFrameReader::Open(path, 0);
  ASSERT_TRUE(lent && second && fresh);
  for (uint32_t position : {0u, 4u, 2u, 9u}) {
    const auto a = lent->GetFrame(position);
    const auto b = fresh->GetFrame(position);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b) << position;
    EXPECT_EQ(second->GetFrame(position), a) << position;
  }
  EXPECT_EQ(file->ReadFormat(0), format);
  EXPECT_EQ(file->StreamInfo(0).length, 10u);
  const auto sound = file->OpenFrameReader(1);
  ASSERT_FALSE(sound);
  EXPECT_EQ(sound.kind(), ErrorKind::kUnsupported);
}

TEST_F(AviFileTest, AnythingButAnAviIsRefused) {
  const auto missing = AviFile::Open(folder_.File("none.avi"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.kind(), ErrorKind::kCannotRead);
  EXPECT_EQ(missing.error().message, folder_.File("none.avi") + ": cannot open the file");
  const std::string wav = folder_.File("tone.wav");
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i sine=duration=0.1 '" + wav + "'"));
  const auto notAvi = AviFile::Open(wav);
  ASSERT_FALSE(notAvi);
  EXPECT_EQ(notAvi.kind(), ErrorKind::kNotThisFormat);
  EXPECT_EQ(notAvi.error().message, wav + ": not an AVI file");
  // A RIFF AVI header with nothing behind it.
  ASSERT_TRUE(test::WriteAllBytes(folder_.File("stub.avi"), std::string_view("RIFF\x04\0\0\0AVI ", 12)));
  const auto stub = AviFile::Open(folder_.File("stub.avi"));
  ASSERT_FALSE(stub);
  EXPECT_EQ(stub.kind(), ErrorKind::kNotThisFormat);
}

}  // namespace
}  // namespace reel
