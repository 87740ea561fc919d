// The decoder plug-in through Mp3Stream: real MP3s and MP3s made here decode to the samples
// libmpg123 gives directly; tags are never decoded as sound; looping, bad data and a missing
// plug-in end cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "player/audio/mp3_info_frame.h"
#include "player/audio/mp3_plugin.h"
#include "player/audio/mp3_stream.h"
#include "player/audio/mp3_tags.h"
#include "tests/player/audio/audio_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/mp3_decoding.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

using test::MakeMp3;
using test::ScratchFolder;

// Reads the stream to its end in the sizes a refill asks for.
std::vector<int16_t> ReadAll(Mp3Stream& stream, std::size_t chunk = 4096) {
  std::vector<int16_t> all;
  std::vector<int16_t> buffer(chunk);
  while (!stream.Finished()) {
    const std::size_t got = stream.ReadPcm(buffer, false);
    all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
  return all;
}

// A stream without an information frame plays every frame as libmpg123 decodes it; one with an
// information frame plays what libmpg123 gives when it honours the frame (gapless): the frame
// itself, the delays at the start and the padding at the end left out.
void ExpectSameAsDirectDecode(const std::filesystem::path& path) {
  SCOPED_TRACE(path.string());
  const std::vector<uint8_t> bytes = test::ReadAllBytes(path);
  const std::optional<test::DecodedMp3> direct = test::DecodeMp3File(path, test::Mp3Decoding::kEveryFrame);
  ASSERT_TRUE(direct.has_value());
  const std::optional<test::DecodedMp3> gapless =
      test::DecodeMp3Bytes(bytes, test::Mp3Decoding::kGapless);
  ASSERT_TRUE(gapless.has_value());
  for (const bool wholeFile : {false, true}) {
    Mp3Stream stream;
    ASSERT_TRUE(wholeFile ? stream.OpenMemory(bytes) : stream.OpenFile(path.string()));
    EXPECT_EQ(stream.Format().channels, direct->channels);
    EXPECT_EQ(stream.Format().sampleRate, direct->rate);
    const std::vector<int16_t> ours = ReadAll(stream);
    const std::vector<int16_t>& expected =
        stream.InfoFrame() ? gapless->samples : direct->samples;
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ours, expected) << "ours " << ours.size() << " expected " << expected.size()
                              << (stream.InfoFrame() ? " (information frame)" : "");
  }
}

class Mp3PluginTest : public ::testing::Test {
 protected:
  void SetUp() override { Mp3Plugin::SetModuleName(test::PluginPath()); }
};

TEST_F(Mp3PluginTest, RealFilesDecodeAsLibmpg123DecodesThem) {
  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "shared media folder not present";
  for (const char* name :
       {"mp3_22050_mono_notags.mp3", "mp3_22050_mono_id3v23_id3v1.mp3",
        "mp3_32000_mono_notags.mp3", "mp3_32000_stereo_id3v23_id3v1.mp3",
        "mp3_44100_jstereo_id3v24_id3v1.mp3", "mp3_44100_jstereo_notags_lameinfo.mp3",
        "mp3_44100_mono_id3v24_xing.mp3"}) {
    ExpectSameAsDirectDecode(test::SharedMediaPath(name));
  }
}

TEST_F(Mp3PluginTest, MadeFilesDecodeAsLibmpg123DecodesThem) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  ScratchFolder folder;
  const struct {
    const char* name;
    uint32_t rate;
    uint16_t channels;
    const char* extra;
  } cases[] = {
      {"mono22050.mp3", 22050, 1, "-id3v2_version 0 -write_xing 0"},
      {"stereo22050.mp3", 22050, 2, "-id3v2_version 0"},
      {"stereo44100.mp3", 44100, 2, "-id3v2_version 0"},
      {"mono32000.mp3", 32000, 1, "-id3v2_version 0 -write_xing 0"},
      {"tagged.mp3", 44100, 1,
       "-id3v2_version 3 -write_id3v1 1 -metadata title=Tagged -metadata artist=Someone"},
      {"tagged24.mp3", 22050, 2, "-id3v2_version 4 -write_id3v1 1 -metadata title=Four"},
  };
  for (const auto& c : cases) {
    const auto path = MakeMp3(folder.Path(), c.name, c.rate, c.channels, 1.5, c.extra);
    ASSERT_TRUE(path.has_value()) << c.name;
    ExpectSameAsDirectDecode(*path);
  }
}

TEST_F(Mp3PluginTest, TagsAreSkippedAndNeverDecoded) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  ScratchFolder folder;
  const auto plain = MakeMp3(folder.Path(), "plain.mp3", 22050, 1, 1.0,
                             "-id3v2_version 0 -write_xing 0");
  const auto tagged = MakeMp3(folder.Path(), "tagged.mp3", 22050, 1, 1.0,
                              "-write_xing 0 -id3v2_version 3 -write_id3v1 1 -metadata title=T");
  ASSERT_TRUE(plain && tagged);
  const std::vector<uint8_t> plainBytes = test::ReadAllBytes(*plain);
  const std::vector<uint8_t> taggedBytes = test::ReadAllBytes(*tagged);
  const AudioRange range = FindAudioRange(taggedBytes);
  EXPECT_GT(range.start, 10u);
  EXPECT_EQ(range.end, taggedBytes.size() - 128);
  // The audio between the tags is the untagged file's audio, byte for byte.
  ASSERT_EQ(range.Size(), plainBytes.size());
  EXPECT_TRUE(std::equal(plainBytes.begin(), plainBytes.end(),
                         taggedBytes.begin() + static_cast<std::ptrdiff_t>(range.start)));
  Mp3Stream withTags;
  Mp3Stream withoutTags;
  ASSERT_TRUE(withTags.OpenMemory(taggedBytes));
  ASSERT_TRUE(withoutTags.OpenMemory(plainBytes));
  EXPECT_EQ(ReadAll(withTags), ReadAll(withoutTags));
}

TEST(Mp3TagsTest, TagFieldsAndBounds) {
  // ID3v2 header: size 0x01 0x00 seven bits a byte = 128 bytes of tag after the header.
  std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0};
  file.resize(10 + 128 + 50, 0xFF);
  EXPECT_EQ(FindAudioRange(file).start, 138u);
  EXPECT_EQ(FindAudioRange(file).end, file.size());
  // An ID3v2.4 footer adds ten bytes.
  file[3] = 4;
  file[5] = 0x10;
  EXPECT_EQ(FindAudioRange(file).start, 148u);
  // A tag claiming more than the file holds leaves nothing to decode.
  file[6] = 0x7F;
  EXPECT_EQ(FindAudioRange(file).Size(), 0u);
  // "TAG" exactly 128 bytes from the end cuts the data there; shorter files have no ID3v1 tag.
  std::vector<uint8_t> shortFile = {'T', 'A', 'G', 0, 0};
  EXPECT_EQ(FindAudioRange(shortFile).end, shortFile.size());
  std::vector<uint8_t> withV1(200, 0xFF);
  withV1[72] = 'T';
  withV1[73] = 'A';
  withV1[74] = 'G';
  EXPECT_EQ(FindAudioRange(withV1).end, 72u);
  EXPECT_EQ(FindAudioRange({}).Size(), 0u);
}

// With an information frame a stream plays exactly the samples that were encoded; without one it
// plays every frame whole, as before.
TEST_F(Mp3PluginTest, InformationFrameGivesTheSourceLength) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  ScratchFolder folder;
  for (const uint32_t rate : {22050u, 44100u}) {
    for (const uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
      const double seconds = 1.37;
      const auto sourceFrames = static_cast<std::size_t>(seconds * rate + 0.5);
      const auto tagged = MakeMp3(folder.Path(), "tagged.mp3", rate, channels, seconds,
                                  "-id3v2_version 0");
      const auto plain = MakeMp3(folder.Path(), "plain.mp3", rate, channels, seconds,
                                 "-id3v2_version 0 -write_xing 0");
      ASSERT_TRUE(tagged && plain);
      Mp3Stream withTag;
      ASSERT_TRUE(withTag.OpenFile(tagged->string()));
      ASSERT_TRUE(withTag.InfoFrame().has_value());
      EXPECT_EQ(ReadAll(withTag).size(), sourceFrames * channels);

      Mp3Stream withoutTag;
      ASSERT_TRUE(withoutTag.OpenFile(plain->string()));
      EXPECT_FALSE(withoutTag.InfoFrame().has_value());
      const std::size_t samplesPerFrame = rate >= 32000 ? 1152 : 576;
      const std::size_t played = ReadAll(withoutTag).size() / channels;
      EXPECT_EQ(played % samplesPerFrame, 0u);  // whole frames, delays and padding included
      EXPECT_GT(played, sourceFrames);
    }
  }
}

TEST_F(Mp3PluginTest, RealFilesWithAnInformationFramePlayTheLengthItGives) {
  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "shared media folder not present";
  const struct {
    const char* name;
    std::size_t frames;  // from the tag: frames x 1152 - delay - padding
  } cases[] = {{"mp3_44100_jstereo_notags_lameinfo.mp3", 159 * 1152 - 576 - 1762},
               {"mp3_44100_mono_id3v24_xing.mp3", 208 * 1152 - 576 - 593},
               {"mp3_32000_stereo_id3v23_id3v1.mp3", 557 * 1152 - 576 - 1088}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Mp3Stream stream;
    ASSERT_TRUE(stream.OpenFile(test::SharedMediaPath(c.name).string()));
    ASSERT_TRUE(stream.InfoFrame().has_value());
    EXPECT_EQ(stream.InfoFrame()->encoderDelay, 576u);
    EXPECT_EQ(ReadAll(stream).size(), c.frames * stream.Format().channels);
  }
}

TEST(Mp3InfoFrameTest, FieldsAndRefusals) {
  // An MPEG-1 stereo "Info" frame: header, 32 bytes of side information, the tag with frame count
  // and the encoder's extension.
  std::vector<uint8_t> frame(417, 0);
  const uint8_t header[] = {0xFF, 0xFB, 0x90, 0x64};
  std::copy(std::begin(header), std::end(header), frame.begin());
  const std::size_t tag = 4 + 32;
  std::memcpy(frame.data() + tag, "Info", 4);
  frame[tag + 7] = 0x01;                   // frame count only
  frame[tag + 11] = 100;                   // 100 frames
  std::memcpy(frame.data() + tag + 12, "LAME3.100", 9);
  frame[tag + 12 + 21] = 0x24;             // delay 0x240 = 576, padding 0x0A5 = 165
  frame[tag + 12 + 22] = 0x00;
  frame[tag + 12 + 23] = 0xA5;
  const std::optional<Mp3InfoFrame> info = ReadMp3InfoFrame(frame);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->frames, 100u);
  EXPECT_EQ(info->encoderDelay, 576u);
  EXPECT_EQ(info->padding, 165u);
  EXPECT_EQ(info->FirstSample(), 576u + 529u);
  EXPECT_EQ(info->EndSample(), 100u * 1152 - 165 + 529);
  // Another encoder's extension is not read; the frame is still an information frame.
  std::memcpy(frame.data() + tag + 12, "Other1.0 ", 9);
  ASSERT_TRUE(ReadMp3InfoFrame(frame).has_value());
  EXPECT_EQ(ReadMp3InfoFrame(frame)->encoderDelay, 0u);
  // Cut short inside the tag, a frame of sound, or a frame of another layer: not one.
  EXPECT_FALSE(ReadMp3InfoFrame(std::span(frame).first(tag + 4)).has_value());
  std::memcpy(frame.data() + tag, "Sond", 4);
  EXPECT_FALSE(ReadMp3InfoFrame(frame).has_value());
  std::memcpy(frame.data() + tag, "Info", 4);
  frame[1] = 0xFD;  // Layer II
  EXPECT_FALSE(ReadMp3InfoFrame(frame).has_value());
}

TEST_F(Mp3PluginTest, LoopingStartsOverAndNeverFinishes) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  ScratchFolder folder;
  for (const char* extra : {"-id3v2_version 0", "-id3v2_version 0 -write_xing 0"}) {
    SCOPED_TRACE(extra);
    const auto path = MakeMp3(folder.Path(), "short.mp3", 22050, 2, 0.3, extra);
    ASSERT_TRUE(path);
    Mp3Stream once;
    ASSERT_TRUE(once.OpenFile(path->string()));
    const std::vector<int16_t> pass = ReadAll(once);
    ASSERT_FALSE(pass.empty());

    Mp3Stream looping;
    ASSERT_TRUE(looping.OpenFile(path->string()));
    std::vector<int16_t> threePasses(pass.size() * 3);
    EXPECT_EQ(looping.ReadPcm(threePasses, true), threePasses.size());
    EXPECT_FALSE(looping.Finished());
    // The decoder starts afresh at every restart, so every pass is the first, sample for sample.
    for (std::size_t passIndex = 0; passIndex < 3; ++passIndex) {
      const auto played = std::span(threePasses).subspan(passIndex * pass.size(), pass.size());
      EXPECT_TRUE(std::equal(pass.begin(), pass.end(), played.begin())) << "pass " << passIndex;
    }
  }
}

TEST_F(Mp3PluginTest, DataThatIsNotMp3IsRefused) {
  Mp3Stream stream;
  const Status noise = stream.OpenMemory(std::vector<uint8_t>(1000, 0x55), "noise.mp3");
  ASSERT_FALSE(noise);
  EXPECT_EQ(noise.kind(), ErrorKind::kNotThisFormat);
  EXPECT_EQ(noise.error().message, "noise.mp3: the decoder refuses the first frame");
  EXPECT_EQ(stream.OpenMemory(std::vector<uint8_t>{0xFF, 0xFB}).kind(),  // shorter than a header
            ErrorKind::kNotThisFormat);
  EXPECT_EQ(stream.OpenFile("/nonexistent/folder/none.mp3").kind(), ErrorKind::kNotFound);
  EXPECT_FALSE(stream.IsOpen());
  std::vector<int16_t> buffer(100);
  EXPECT_EQ(stream.ReadPcm(buffer, true), 0u);  // a closed stream delivers nothing, at once
  EXPECT_TRUE(stream.Finished());
  // Free-format and reserved headers are refused.
  EXPECT_FALSE(stream.OpenMemory(std::vector<uint8_t>{0xFF, 0xFB, 0x00, 0x00, 0, 0, 0, 0}));
  EXPECT_FALSE(stream.OpenMemory(std::vector<uint8_t>{0xFF, 0xFB, 0xF0, 0x00, 0, 0, 0, 0}));
  EXPECT_FALSE(stream.OpenMemory(std::vector<uint8_t>{0xFF, 0xFB, 0x9C, 0x00, 0, 0, 0, 0}));
}

TEST_F(Mp3PluginTest, DamagedDataEndsTheStream) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  ScratchFolder folder;
  const auto path = MakeMp3(folder.Path(), "cut.mp3", 44100, 2, 1.0, "-id3v2_version 0");
  ASSERT_TRUE(path);
  std::vector<uint8_t> bytes = test::ReadAllBytes(*path);
  Mp3Stream whole;
  ASSERT_TRUE(whole.OpenMemory(bytes));
  const std::vector<int16_t> all = ReadAll(whole);

  // Cut in the middle of a frame: the last frame is decoded from what is there, then the end.
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
  Mp3Stream cutStream;
  ASSERT_TRUE(cutStream.OpenMemory(cut));
  const std::vector<int16_t> cutPcm = ReadAll(cutStream);
  EXPECT_GT(cutPcm.size(), 0u);
  EXPECT_LT(cutPcm.size(), all.size());

  // Garbage after the first few frames: the stream ends there, even when asked to loop.
  std::vector<uint8_t> spoiled = bytes;
  std::fill(spoiled.begin() + 2000, spoiled.end(), uint8_t{0});
  Mp3Stream spoiledStream;
  ASSERT_TRUE(spoiledStream.OpenMemory(spoiled));
  const std::vector<int16_t> spoiledPcm = ReadAll(spoiledStream);
  EXPECT_LT(spoiledPcm.size(), all.size());
  EXPECT_TRUE(std::equal(spoiledPcm.begin(), spoiledPcm.end(), all.begin()));
}

// A file cut short, emptied or removed while it plays: the stream ends where the data now ends (a
// removed file's data stays readable through the open file and plays to its end), never a fault.
TEST_F(Mp3PluginTest, AFileCutOrRemovedWhilePlayingEndsItsStreamCleanly) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  ScratchFolder folder;
  const auto path = MakeMp3(folder.Path(), "long.mp3", 22050, 2, 16.0, "-id3v2_version 0");
  ASSERT_TRUE(path);
  const std::vector<uint8_t> bytes = test::ReadAllBytes(*path);
  ASSERT_GT(bytes.size(), 3 * SoundSource::kWindowBytes);
  Mp3Stream whole;
  ASSERT_TRUE(whole.OpenMemory(bytes));
  const std::vector<int16_t> all = ReadAll(whole);

  enum class Change { kCutInHalf, kEmptied, kRemoved };
  for (const Change change : {Change::kCutInHalf, Change::kEmptied, Change::kRemoved}) {
    SCOPED_TRACE(static_cast<int>(change));
    test::WriteAllBytes(path->string(), bytes);
    Mp3Stream stream;
    ASSERT_TRUE(stream.OpenFile(path->string()));
    std::vector<int16_t> played(22050 * 2);  // one second
    ASSERT_EQ(stream.ReadPcm(played, false), played.size());
    if (change == Change::kCutInHalf) std::filesystem::resize_file(*path, bytes.size() / 2);
    if (change == Change::kEmptied) std::filesystem::resize_file(*path, 0);
    if (change == Change::kRemoved) std::filesystem::remove(*path);
    const std::vector<int16_t> rest = ReadAll(stream);
    played.insert(played.end(), rest.begin(), rest.end());
    ASSERT_LE(played.size(), all.size());
    EXPECT_TRUE(std::equal(played.begin(), played.end(), all.begin()));
    if (change == Change::kRemoved) {
      EXPECT_EQ(played.size(), all.size());
    } else if (change == Change::kCutInHalf) {
      EXPECT_LT(played.size(), all.size() * 6 / 10);
    } else {  // emptied: at most what was read ahead before the cut still plays
      EXPECT_LT(played.size(), all.size() / 2);
    }
  }
}

TEST(Mp3PluginMissingTest, MissingModuleOrEntryPointsLeaveTheStreamWithoutDecoder) {
  for (const char* name : {"/nonexistent/Lodestar.ovl", "libm.so.6"}) {
    SCOPED_TRACE(name);
    Mp3Plugin::SetModuleName(name);
    {
      Mp3Plugin plugin;
      EXPECT_EQ(plugin.Entries(), nullptr);
      Mp3Stream stream;
      const std::vector<uint8_t> frame = {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0};
      EXPECT_EQ(stream.OpenMemory(frame).kind(), ErrorKind::kUnsupported);
      std::vector<int16_t> buffer(64);
      EXPECT_EQ(stream.ReadPcm(buffer, true), 0u);
    }
  }
  Mp3Plugin::SetModuleName(test::PluginPath());
  Mp3Plugin plugin;  // loads again once the last reference went
  EXPECT_NE(plugin.Entries(), nullptr);
}

}  // namespace
}  // namespace reel
