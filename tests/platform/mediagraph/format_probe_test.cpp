// The quick format probe names the same reader as the plain look at the whole first megabyte, on
// clips of every container made here, on a QuickTime file that hides an MPEG program stream past
// its first bytes, and on every file of the shared media set. An opening handed an earlier
// opening's reader reads the same streams and packets as a fresh one, and a file changed since is
// read as it is now.
#include "platform/mediagraph/format_probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/mediagraph/media_source.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

void ExpectSameVerdict(const std::string& path) {
  const std::string whole = ProbedFormatName(path, ProbeLook::kWholeMegabyte);
  EXPECT_EQ(ProbedFormatName(path, ProbeLook::kQuick), whole) << path;
}

// Writes `text` over the file's bytes at `offset`.
void Overwrite(const std::string& path, std::streamoff offset, const std::string& text) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(offset);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

TEST(FormatProbe, QuickLookNamesTheReaderTheWholeMegabyteNames) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const test::ScratchFolder folder("format_probe");
  const std::string input = "-f lavfi -i testsrc2=size=160x120:rate=15 -f lavfi -i sine=sample_rate=22050 -t 2 ";
  const std::vector<std::pair<std::string, std::string>> clips = {
      {"clip.avi", "-c:v mpeg4 -c:a mp3"},       {"clip.mkv", "-c:v mpeg4 -c:a aac"},
      {"clip.webm", "-c:v libvpx -c:a libvorbis"}, {"clip.mp4", "-c:v mpeg4 -c:a aac -movflags +faststart"},
      {"clip.ogv", "-c:v libtheora -c:a libvorbis"}, {"clip.flv", "-c:v flv1 -c:a mp3"},
      {"clip.mpg", "-r 25 -c:v mpeg1video -c:a mp2 -ar 44100"},    {"tiny.mp3", "-vn -t 0.05 -c:a mp3"},
  };
  for (const auto& [name, codecs] : clips) {
    const std::string path = folder.File(name);
    ASSERT_TRUE(test::RunFfmpegTool(input + codecs + " " + test::ShellQuoted(std::string_view(path)))) << name;
    ExpectSameVerdict(path);
  }
  // A media handler of type MPEG well past the first look: the long look takes the QuickTime
  // reader's verdict back, and so must the quick one.
  const std::string packed = folder.File("packed.mp4");
  std::filesystem::copy_file(folder.File("clip.mp4"), packed);
  Overwrite(packed, 8000, std::string("hdlr\0\0\0\0mhlrMPEG", 16));
  ExpectSameVerdict(packed);
  EXPECT_NE(ProbedFormatName(packed, ProbeLook::kQuick), ProbedFormatName(folder.File("clip.mp4"), ProbeLook::kQuick));

  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "the shared media set is absent; only made clips checked";
  for (const auto& entry : std::filesystem::directory_iterator(test::SharedMediaPath(""))) {
    if (entry.is_regular_file()) ExpectSameVerdict(entry.path().string());
  }
}

// What an opening reads: each stream's kind and codec, then the first packets' streams, times and
// bytes, as text to compare.
std::string OpeningReads(MediaSource& source) {
  AVFormatContext* context = source.Context();
  std::string reads = std::string(context->iformat->name) + ":";
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVCodecParameters& parameters = *context->streams[i]->codecpar;
    reads += " " + std::to_string(parameters.codec_type) + "/" + avcodec_get_name(parameters.codec_id);
  }
  AVPacket* packet = av_packet_alloc();
  for (int n = 0; n < 40 && av_read_frame(context, packet) >= 0; ++n) {
    uint32_t sum = 0;
    for (int b = 0; b < packet->size; ++b) sum = sum * 31 + packet->data[b];
    reads += "\n" + std::to_string(packet->stream_index) + " " + std::to_string(packet->pts) + " " +
             std::to_string(packet->dts) + " " + std::to_string(packet->size) + " " + std::to_string(sum);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  return reads;
}

TEST(FormatProbe, CarriedReaderOpensAsAFreshProbeDoes) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const test::ScratchFolder folder("carried_reader");
  const std::string input = "-f lavfi -i testsrc2=size=160x120:rate=15 -f lavfi -i sine=sample_rate=22050 -t 2 ";
  const std::vector<std::pair<std::string, std::string>> clips = {
      {"clip.mkv", "-c:v mpeg4 -c:a aac"}, {"clip.mp4", "-c:v mpeg4 -c:a aac"},
      {"clip.ogv", "-c:v libtheora -c:a libvorbis"}, {"clip.flv", "-c:v flv1 -c:a mp3"},
      {"clip.mpg", "-r 25 -c:v mpeg1video -c:a mp2 -ar 44100"},
  };
  constexpr std::chrono::milliseconds kQuiet{10000};
  for (const auto& [name, codecs] : clips) {
    const std::string path = folder.File(name);
    ASSERT_TRUE(test::RunFfmpegTool(input + codecs + " " + test::ShellQuoted(std::string_view(path)))) << name;
    auto fresh = MediaSource::Open(path, kQuiet);
    ASSERT_TRUE(fresh) << name;
    const std::optional<SourceFormat> verdict = (*fresh)->Format();
    ASSERT_TRUE(verdict) << name;
    auto carried = MediaSource::Open(path, kQuiet, verdict);
    ASSERT_TRUE(carried) << name;
    EXPECT_EQ(OpeningReads(**carried), OpeningReads(**fresh)) << name;

    // The same path holding another file now (the first clip): its own reader opens it, and a file
    // that is no media at all is refused as it would be without the verdict.
    const std::string first = folder.File("first" + std::filesystem::path(clips.front().first).extension().string());
    if (!std::filesystem::exists(first)) {
      std::filesystem::copy_file(path, first);
    } else {
      std::filesystem::copy_file(first, path, std::filesystem::copy_options::overwrite_existing);
      auto changed = MediaSource::Open(path, kQuiet, verdict);
      ASSERT_TRUE(changed) << name;
      EXPECT_EQ(std::string((*changed)->Context()->iformat->name), ProbedFormatName(path, ProbeLook::kQuick)) << name;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(5000, 'x');
    EXPECT_EQ(MediaSource::Open(path, kQuiet, verdict).kind(), ErrorKind::kNotThisFormat) << name;
  }
}

}  // namespace
}  // namespace reel
