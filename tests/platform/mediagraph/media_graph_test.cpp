// The media graph on clips made at test time: every container and codec family the converter
// meets, B-frames included, with pictures that carry their own index, so each frame the graph
// delivers is checked for being the right one, not only for being there.
#include "platform/mediagraph/media_graph.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "clip_maker.h"
#include "tests/support/external_tools.h"

namespace reel {
namespace {

using test::IndexedClip;
using test::IndexOf;

constexpr std::chrono::milliseconds kWait{1000};

std::size_t PaddedRow(int width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }

uint32_t HeaderField(const std::array<uint8_t, kBitmapHeaderBytes>& header, std::size_t at) {
  return header[at] | (header[at + 1] << 8) | (header[at + 2] << 16) | (static_cast<uint32_t>(header[at + 3]) << 24);
}

// Every picture of the graph, grabbed and converted later, gives GetCurrentBuffer's bytes: with
// room in front, and into storage that held another picture (pre-filled, so that a byte the
// conversion leaves unwritten shows).
void ExpectGrabbedPicturesMatchTheBuffer(MediaGraph& graph) {
  constexpr uint32_t kLeading = 54;
  ASSERT_TRUE(graph.SetPositions(0, std::nullopt));
  GrabbedPictureConverter converter;
  std::vector<uint8_t> storage;
  for (int64_t picture = 0;; ++picture) {
    const auto expected = graph.GetCurrentBuffer(kLeading);
    ASSERT_TRUE(expected) << expected.error().message;
    auto grabbed = graph.GrabCurrentPicture();
    ASSERT_TRUE(grabbed) << grabbed.error().message;
    EXPECT_EQ(grabbed->Index(), graph.CurrentPictureIndex());
    // Half the time reused storage of the very size, else of another size.
    storage.assign(expected->size() + (picture % 2 == 0 ? 0 : 7), uint8_t{0xA5});
    auto converted = converter.Convert(*grabbed, kLeading, std::move(storage));
    ASSERT_TRUE(converted) << converted.error().message;
    ASSERT_EQ(*converted, *expected) << "picture " << picture;
    storage = std::move(*converted);
    ASSERT_TRUE(graph.Step());
    if (*graph.WaitForCompletion(kWait) == GraphEvent::kComplete) break;
  }
}

struct ClipCase {
  IndexedClip clip;
  int64_t avgTimePerFrame;
};

std::string CaseName(const testing::TestParamInfo<ClipCase>& info) {
  std::string name = info.param.clip.name;
  for (char& c : name) {
    if (c == '.') c = '_';
  }
  return name;
}

class IndexedClips : public testing::TestWithParam<ClipCase> {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    path_ = test::MakeIndexedClip(folder_, GetParam().clip);
    ASSERT_FALSE(path_.empty()) << "ffmpeg could not make " << GetParam().clip.name;
  }
  test::ScratchFolder folder_{"mediagraph"};
  std::string path_;
};

TEST_P(IndexedClips, ConnectsAs24BitBottomUpRgbWithTheStreamsLengthsAndRate) {
  const IndexedClip& clip = GetParam().clip;
  auto graph = MediaGraph::Render(path_);
  ASSERT_TRUE(graph) << graph.error().message;
  const GrabberType& type = graph->ConnectedType();
  EXPECT_EQ(type.width, clip.width);
  EXPECT_EQ(type.height, clip.height);
  EXPECT_EQ(type.sampleSize, PaddedRow(clip.width) * static_cast<std::size_t>(clip.height));
  EXPECT_EQ(type.avgTimePerFrame, GetParam().avgTimePerFrame);
  const auto header = type.BitmapInfoHeader();
  EXPECT_EQ(HeaderField(header, 0), 40u);
  EXPECT_EQ(HeaderField(header, 4), static_cast<uint32_t>(clip.width));
  EXPECT_EQ(HeaderField(header, 8), static_cast<uint32_t>(clip.height));
  EXPECT_EQ(header[12] | (header[13] << 8), 1);
  EXPECT_EQ(header[14] | (header[15] << 8), 24);
  EXPECT_EQ(HeaderField(header, 16), 0u);
  EXPECT_EQ(HeaderField(header, 20), type.sampleSize);
  EXPECT_EQ(graph->NativeVideoSize().width, clip.width);
  EXPECT_EQ(graph->NativeVideoSize().height, clip.height);

  EXPECT_EQ(graph->Duration(TimeFormat::kFrame), clip.frames);
  EXPECT_NEAR(static_cast<double>(graph->Duration(TimeFormat::kMediaTime)),
              static_cast<double>(clip.frames * type.avgTimePerFrame), static_cast<double>(type.avgTimePerFrame));
}

// Frame sync: positioned at frame 0, each step shows the next picture in display order.
TEST_P(IndexedClips, StepsThroughEveryPictureInDisplayOrder) {
  auto graph = MediaGraph::Render(path_);
  ASSERT_TRUE(graph) << graph.error().message;
  const int64_t frames = graph->Duration(TimeFormat::kFrame);
  ASSERT_TRUE(graph->SetPositions(0, frames - 1));
  auto first = graph->GetCurrentBuffer();
  ASSERT_TRUE(first) << first.error().message;
  EXPECT_EQ(IndexOf(*first, graph->ConnectedType()), 0);
  for (int64_t picture = 1; picture < frames; ++picture) {
    ASSERT_TRUE(graph->Step());
    auto event = graph->WaitForCompletion(kWait);
    ASSERT_TRUE(event) << event.error().message;
    ASSERT_EQ(*event, GraphEvent::kStepComplete) << "picture " << picture;
    EXPECT_EQ(graph->State(), GraphState::kPaused);
    auto rows = graph->GetCurrentBuffer(54);
    ASSERT_TRUE(rows) << rows.error().message;
    ASSERT_EQ(rows->size(), 54 + graph->ConnectedType().sampleSize);
    const std::vector<uint8_t> picturePart(rows->begin() + 54, rows->end());
    EXPECT_EQ(IndexOf(picturePart, graph->ConnectedType()), picture);
    EXPECT_EQ(graph->CurrentPictureIndex(), picture);
    EXPECT_EQ(graph->CurrentPosition(TimeFormat::kFrame), picture);
  }
  // At the stop position the step completes the stream and the last picture stays.
  ASSERT_TRUE(graph->Step());
  auto event = graph->WaitForCompletion(kWait);
  ASSERT_TRUE(event);
  EXPECT_EQ(*event, GraphEvent::kComplete);
  auto last = graph->GetCurrentBuffer();
  ASSERT_TRUE(last);
  EXPECT_EQ(IndexOf(*last, graph->ConnectedType()), frames - 1);
}

// Time sync: the clock runs to frame P and the picture on screen is the one shown at P's time.
TEST_P(IndexedClips, RunsToEachPositionAndShowsThePictureOfThatTime) {
  auto graph = MediaGraph::Render(path_);
  ASSERT_TRUE(graph) << graph.error().message;
  const int64_t frames = graph->Duration(TimeFormat::kFrame);
  ASSERT_TRUE(graph->SetPositions(0, frames - 1));
  for (int64_t position = 0; position <= frames - 1; position += 3) {
    ASSERT_TRUE(graph->Run());
    ASSERT_TRUE(graph->RunUntil(position));
    ASSERT_TRUE(graph->Pause());
    EXPECT_EQ(graph->CurrentPosition(TimeFormat::kFrame), position);
    auto rows = graph->GetCurrentBuffer();
    ASSERT_TRUE(rows) << rows.error().message;
    EXPECT_EQ(IndexOf(*rows, graph->ConnectedType()), position) << "position " << position;
  }
}

const ClipCase kClips[] = {
    {{"mpeg1.mpg", 66, 48, "25", 30, "-c:v mpeg1video -bf 2 -q:v 2 -f mpeg"}, 400000},
    {{"h264_bframes.mp4", 66, 48, "24000/1001", 30, "-c:v libx264 -bf 3 -crf 10 -pix_fmt yuv420p"}, 417083},
    {{"mpeg4_bframes.mkv", 66, 48, "30", 30, "-c:v mpeg4 -bf 2 -q:v 2"}, 333333},
    {{"vp8_odd_width.webm", 33, 24, "30", 30, "-c:v libvpx -b:v 1M"}, 333333},
    {{"theora.ogv", 33, 25, "25", 30, "-c:v libtheora -q:v 9"}, 400000},
    {{"h264_bframes.mov", 66, 48, "30", 30, "-c:v libx264 -bf 2 -crf 10 -pix_fmt yuv420p"}, 333333},
    {{"h263.3gp", 128, 96, "15", 30, "-c:v h263 -q:v 2"}, 666667},
    {{"mpeg4_bframes.avi", 66, 48, "25", 30, "-c:v mpeg4 -bf 2 -q:v 2"}, 400000},
    {{"mpeg4_bframes.mp4", 66, 48, "30000/1001", 30, "-c:v mpeg4 -bf 2 -q:v 2"}, 333667},
};
INSTANTIATE_TEST_SUITE_P(Containers, IndexedClips, testing::ValuesIn(kClips), CaseName);

// A graph told that only every N-th picture will be looked at passes over the pictures between
// that nothing refers to; every picture it does show, and every index and time on the way, is the
// one the graph shows without the hint. A picture passed over and then taken anyway is decoded.
enum class Passing {
  kSome,     // the clip holds pictures nothing refers to: fewer packets are decoded
  kNone,     // nothing to pass over, or a stream not judged
  kRestart,  // pictures are passed over until a doubt, then all is decoded again
};

struct KeptCase {
  IndexedClip clip;
  Passing passing;
  std::string joined;  // a second clip's options, its bytes appended to the first's
};

class KeptPictures : public testing::TestWithParam<KeptCase> {};

std::string KeptName(const testing::TestParamInfo<KeptCase>& info) {
  return CaseName({ClipCase{info.param.clip, 0}, info.index});
}

// Steps both graphs through `path` and compares them; the packets each decoded.
std::pair<int64_t, int64_t> CompareKept(const std::string& path, int64_t step) {
  auto plain = MediaGraph::Render(path);
  auto hinted = MediaGraph::Render(path);
  EXPECT_TRUE(plain && hinted);
  if (!plain || !hinted) return {};
  hinted->KeepOnly(step);
  const int64_t last = plain->Duration(TimeFormat::kFrame) - 1;
  EXPECT_TRUE(plain->SetPositions(0, last) && hinted->SetPositions(0, last));
  for (int64_t picture = 1; picture <= last; ++picture) {
    EXPECT_TRUE(plain->Step() && hinted->Step());
    EXPECT_EQ(*hinted->WaitForCompletion(kWait), *plain->WaitForCompletion(kWait));
    EXPECT_EQ(hinted->CurrentPictureIndex(), plain->CurrentPictureIndex()) << "step " << step;
    EXPECT_EQ(hinted->CurrentPosition(TimeFormat::kMediaTime), plain->CurrentPosition(TimeFormat::kMediaTime));
    if (picture % step != 0) continue;
    const auto expected = plain->GetCurrentBuffer();
    const auto got = hinted->GetCurrentBuffer();
    EXPECT_TRUE(expected && got);
    if (!expected || !got) return {};
    EXPECT_EQ(IndexOf(*got, hinted->ConnectedType()), picture);
    EXPECT_TRUE(*got == *expected) << "step " << step << ", picture " << picture;
  }
  return {plain->PacketsDecoded(), hinted->PacketsDecoded()};
}

TEST_P(KeptPictures, ShowTheSamePicturesAsWithoutTheHint) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const KeptCase& kept = GetParam();
  test::ScratchFolder folder("mediagraph");
  const std::string path = test::MakeIndexedClip(folder, kept.clip);
  ASSERT_FALSE(path.empty());
  if (!kept.joined.empty()) {
    IndexedClip second = kept.clip;
    second.name = "second_" + kept.clip.name;
    const std::string more = test::MakeIndexedClip(folder, second, kept.joined);
    ASSERT_FALSE(more.empty());
    std::ifstream in(more, std::ios::binary);
    std::ofstream(path, std::ios::binary | std::ios::app) << in.rdbuf();
  }
  for (int64_t step = 1; step <= 4; ++step) {
    const auto [plain, hinted] = CompareKept(path, step);
    if (kept.passing == Passing::kSome && step > 1) {
      EXPECT_LT(hinted, plain) << "step " << step;
    } else if (kept.passing == Passing::kNone || step == 1) {
      EXPECT_EQ(hinted, plain) << "step " << step;
    } else {
      EXPECT_GT(hinted, plain) << "step " << step;
    }
  }
  auto taken = MediaGraph::Render(path);
  ASSERT_TRUE(taken);
  taken->KeepOnly(4);
  GrabbedPictureConverter converter;
  for (int picture = 1; picture <= 7; ++picture) {
    ASSERT_TRUE(taken->Step());
    // Taken at once, or grabbed to be converted later.
    Result<std::vector<uint8_t>> rows = std::vector<uint8_t>();
    if (picture % 2 == 0) {
      auto grabbed = taken->GrabCurrentPicture();
      ASSERT_TRUE(grabbed);
      rows = converter.Convert(*grabbed, 0);
    } else {
      rows = taken->GetCurrentBuffer();
    }
    ASSERT_TRUE(rows);
    EXPECT_EQ(IndexOf(*rows, taken->ConnectedType()), picture);
  }
}

const std::string kPyramid = "-c:v libx264 -bf 3 -b-pyramid normal -crf 10 -pix_fmt yuv420p";
const KeptCase kKept[] = {
    {{"h264_pyramid.mp4", 66, 48, "25", 30, kPyramid}, Passing::kSome, ""},
    {{"h264_pyramid.mkv", 66, 48, "30", 30, kPyramid}, Passing::kSome, ""},
    {{"mpeg4_asp.mkv", 66, 48, "25", 30, "-c:v mpeg4 -bf 2 -q:v 2"}, Passing::kSome, ""},
    {{"mpeg4_asp.mp4", 66, 48, "30000/1001", 30, "-c:v mpeg4 -bf 2 -q:v 2"}, Passing::kSome, ""},
    {{"mpeg2.mkv", 64, 48, "25", 30, "-c:v mpeg2video -bf 2 -q:v 2"}, Passing::kSome, ""},
    // Small pictures share a program stream's packets, and only the first of each is stamped.
    {{"mpeg2.mpg", 64, 48, "25", 30, "-c:v mpeg2video -bf 2 -q:v 2 -f vob"}, Passing::kNone, ""},
    {{"mpeg1.mpg", 64, 48, "25", 30, "-c:v mpeg1video -bf 2 -q:v 2 -f mpeg"}, Passing::kNone, ""},
    {{"h264_no_bframes.mp4", 66, 48, "25", 30, "-c:v libx264 -bf 0 -crf 10 -pix_fmt yuv420p"}, Passing::kNone, ""},
    {{"vp8.webm", 32, 24, "30", 30, "-c:v libvpx -b:v 1M"}, Passing::kNone, ""},
    // Two transport streams end to end: the second one's stamps start again where the first's did.
    {{"h264_joined.ts", 66, 48, "25", 16, kPyramid}, Passing::kRestart,
     "-vf trim=start_frame=16,setpts=PTS-STARTPTS"},
};
INSTANTIATE_TEST_SUITE_P(Clips, KeptPictures, testing::ValuesIn(kKept), KeptName);

class MediaGraphTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }
  std::string Make(const IndexedClip& clip, const std::string& extra = "") {
    const std::string path = test::MakeIndexedClip(folder_, clip, extra);
    EXPECT_FALSE(path.empty()) << "ffmpeg could not make " << clip.name;
    return path;
  }
  test::ScratchFolder folder_{"mediagraph"};
};

TEST_F(MediaGraphTest, PositionsAbsolutelyForwardsAndBackwards) {
  const std::string path = Make({"seek.mp4", 66, 48, "25", 30, "-c:v libx264 -bf 3 -g 10 -crf 10 -pix_fmt yuv420p"});
  auto graph = MediaGraph::Render(path);
  ASSERT_TRUE(graph) << graph.error().message;
  for (const int64_t frame : {17, 5, 29, 0, 12}) {
    ASSERT_TRUE(graph->SetPositions(frame, std::nullopt));
    auto rows = graph->GetCurrentBuffer();
    ASSERT_TRUE(rows);
    EXPECT_EQ(IndexOf(*rows, graph->ConnectedType()), frame);
    EXPECT_EQ(graph->CurrentPosition(TimeFormat::kFrame), frame);
    EXPECT_EQ(graph->CurrentPosition(TimeFormat::kMediaTime), frame * 400000);
  }
  // In media time, a time between two frames shows the earlier picture.
  ASSERT_TRUE(graph->SetPositions(7 * 400000 + 250000, std::nullopt, TimeFormat::kMediaTime));
  EXPECT_EQ(graph->CurrentPictureIndex(), 7);
  // A stop position holds both steps and runs.
  ASSERT_TRUE(graph->SetPositions(10, 12));
  EXPECT_EQ(graph->StopPosition(TimeFormat::kFrame), 12);
  ASSERT_TRUE(graph->Step());
  ASSERT_TRUE(graph->Step());
  EXPECT_EQ(*graph->WaitForCompletion(kWait), GraphEvent::kStepComplete);
  ASSERT_TRUE(graph->Step());
  EXPECT_EQ(*graph->WaitForCompletion(kWait), GraphEvent::kComplete);
  EXPECT_EQ(graph->CurrentPictureIndex(), 12);
  ASSERT_TRUE(graph->SetPositions(0, std::nullopt));
  ASSERT_TRUE(graph->Run());
  ASSERT_TRUE(graph->RunUntil(20));
  EXPECT_EQ(*graph->WaitForCompletion(kWait), GraphEvent::kComplete);
  EXPECT_EQ(graph->CurrentPosition(TimeFormat::kFrame), 12);
  EXPECT_EQ(graph->CurrentPictureIndex(), 12);
  // Positions past the end hold at the last frame.
  ASSERT_TRUE(graph->SetPositions(500, 500));
  EXPECT_EQ(graph->CurrentPictureIndex(), 29);
  EXPECT_EQ(graph->StopPosition(TimeFormat::kFrame), 29);
}

// One decoding thread gives the same pictures as many, wherever the graph is positioned.
TEST_F(MediaGraphTest, OneDecoderThreadGivesTheSamePictures) {
  const std::string path = Make({"threads.mp4", 66, 48, "25", 20, "-c:v libx264 -bf 3 -g 10 -crf 10 -pix_fmt yuv420p"});
  GraphLimits oneThread;
  oneThread.decoderThreads = DecoderThreads::kOne;
  auto many = MediaGraph::Render(path);
  auto one = MediaGraph::Render(path, oneThread);
  ASSERT_TRUE(many && one);
  for (const int64_t frame : {0, 13, 4, 19}) {
    ASSERT_TRUE(many->SetPositions(frame, std::nullopt));
    ASSERT_TRUE(one->SetPositions(frame, std::nullopt));
    const auto expected = many->GetCurrentBuffer();
    const auto got = one->GetCurrentBuffer();
    ASSERT_TRUE(expected && got);
    EXPECT_EQ(*got, *expected) << frame;
  }
}

// Pictures converted later, over codecs, chroma layouts and sizes: widths of whole 8-pixel groups
// (where 4:2:0 pictures are written in place) and others, and a program stream whose pictures
// change size part way (the later ones are scaled to the first one's size). The pictures are
// moving test patterns, so rows in the wrong place or wrong colours show.
struct GrabCase {
  const char* name;
  std::vector<std::string> parts;  // the ffmpeg tool's video options for each part, joined end to end
};

class GrabbedClips : public MediaGraphTest, public testing::WithParamInterface<GrabCase> {};

TEST_P(GrabbedClips, ConvertLaterToTheSameBytes) {
  const std::string path = folder_.File(GetParam().name);
  std::ofstream joined(path, std::ios::binary);
  for (std::size_t i = 0; i < GetParam().parts.size(); ++i) {
    const std::string part = folder_.File("part" + std::to_string(i) + "_" + GetParam().name);
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc2=r=25:" + GetParam().parts[i] + " -frames:v 8 \"" + part + "\""));
    std::ifstream in(part, std::ios::binary);
    joined << in.rdbuf();
  }
  joined.close();
  auto graph = MediaGraph::Render(path);
  ASSERT_TRUE(graph) << graph.error().message;
  ExpectGrabbedPicturesMatchTheBuffer(*graph);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, GrabbedClips,
    testing::Values(GrabCase{"mpeg4_420.mkv", {"s=64x48 -c:v mpeg4 -bf 2 -q:v 2"}},
                    GrabCase{"h264_420.mp4", {"s=128x72 -c:v libx264 -bf 3 -pix_fmt yuv420p"}},
                    GrabCase{"vp8_odd_height.webm", {"s=64x48 -vf scale=64:45 -c:v libvpx -b:v 1M"}},
                    GrabCase{"vp8_odd_width.webm", {"s=64x48 -vf scale=33:24 -c:v libvpx -b:v 1M"}},
                    GrabCase{"h264_422.mkv", {"s=64x48 -c:v libx264 -pix_fmt yuv422p"}},
                    GrabCase{"h264_444.mkv", {"s=64x48 -c:v libx264 -pix_fmt yuv444p"}},
                    GrabCase{"size_change.mpg", {"s=64x48 -c:v mpeg1video -q:v 2 -f mpeg",
                                                 "s=48x32 -c:v mpeg1video -q:v 2 -f mpeg"}}),
    [](const testing::TestParamInfo<GrabCase>& grab) {
      std::string name = grab.param.name;
      for (char& c : name) {
        if (c == '.') c = '_';
      }
      return name;
    });

// Pictures kept in large-page blocks are the pictures libavcodec's own storage gives: every picture
// stepped through, then again after a move back (a new decoder on the same storage's shape), over
// codecs with planes of different proportions, sizes that are no multiple of the alignment, frame
// threads and B-frames, and a stream whose picture size changes half-way (the storage reshaped).
TEST_F(MediaGraphTest, PicturesInLargePageBlocksMatchLibavcodecsOwnStorage) {
  auto quoted = [](const std::string& path) { return test::ShellQuoted(std::string_view(path)); };
  auto make = [&](const std::string& options, const std::string& path) {
    return test::RunFfmpegTool("-f lavfi -i testsrc2=size=" + options + " " + quoted(path));
  };
  const std::string sizes = folder_.File("sizes.h264");
  const std::string second = folder_.File("second.h264");
  ASSERT_TRUE(make("96x64:rate=25 -frames:v 6 -c:v libx264 -bf 2", sizes));
  ASSERT_TRUE(make("136x82:rate=25 -frames:v 6 -c:v libx264 -bf 2", second));
  ASSERT_EQ(test::RunCommand("cat " + quoted(second) + " >> " + quoted(sizes)).status, 0);
  const struct {
    std::string name;
    std::string options;
  } cases[] = {
      {"h264_444.mp4", "174x98:rate=25 -frames:v 12 -c:v libx264 -bf 3 -pix_fmt yuv444p"},
      {"h264_420.mkv", "178x100:rate=25 -frames:v 12 -c:v libx264 -bf 3 -pix_fmt yuv420p"},
      {"mpeg4.avi", "176x144:rate=25 -frames:v 12 -c:v mpeg4 -bf 2 -q:v 4"},
      {"mjpeg.mkv", "100x76:rate=25 -frames:v 6 -c:v mjpeg -q:v 4"},
      {"mpeg1.mpg", "162x120:rate=25 -frames:v 12 -c:v mpeg1video -bf 2 -q:v 4"},
      {"sizes.h264", ""},
  };
  GraphLimits reference;
  reference.pictureMemory = PictureMemory::kLibraryDefault;
  for (const auto& clip : cases) {
    SCOPED_TRACE(clip.name);
    const std::string path = folder_.File(clip.name);
    if (!clip.options.empty()) {
      ASSERT_TRUE(make(clip.options, path));
    }
    auto blocks = MediaGraph::Render(path);
    auto library = MediaGraph::Render(path, reference);
    ASSERT_TRUE(blocks && library);
    auto same = [&](const char* where) {
      const auto expected = library->GetCurrentBuffer();
      const auto got = blocks->GetCurrentBuffer();
      ASSERT_TRUE(expected && got) << where;
      EXPECT_EQ(blocks->CurrentPictureIndex(), library->CurrentPictureIndex()) << where;
      EXPECT_TRUE(*got == *expected) << where << " picture " << library->CurrentPictureIndex();
    };
    ASSERT_TRUE(blocks->SetPositions(0, std::nullopt) && library->SetPositions(0, std::nullopt));
    same("first");
    for (int64_t i = 1; i < library->Duration(TimeFormat::kFrame); ++i) {
      ASSERT_TRUE(blocks->Step() && library->Step());
      same("stepped");
    }
    ASSERT_TRUE(blocks->SetPositions(1, std::nullopt) && library->SetPositions(1, std::nullopt));
    same("moved back");
  }
}

TEST_F(MediaGraphTest, RefusesCallsOutsideTheirRange) {
  const std::string path = Make({"small.mkv", 32, 32, "25", 5, "-c:v mpeg4 -q:v 2"});
  auto graph = MediaGraph::Render(path);
  ASSERT_TRUE(graph) << graph.error().message;
  // The clock moves only while running, and never back.
  EXPECT_EQ(graph->RunUntil(2).kind(), ErrorKind::kUsage);
  ASSERT_TRUE(graph->Run());
  ASSERT_TRUE(graph->RunUntil(3));
  EXPECT_EQ(graph->RunUntil(1).kind(), ErrorKind::kUsage);
  EXPECT_EQ(graph->SetPositions(-1, std::nullopt).kind(), ErrorKind::kUsage);
  // Nothing under way: the wait ends at once instead of hanging.
  ASSERT_TRUE(graph->Pause());
  EXPECT_EQ(graph->WaitForCompletion(std::chrono::hours(1)).kind(), ErrorKind::kTimedOut);
  // The muting volume is kept; nothing louder than full or quieter than silent is taken.
  ASSERT_TRUE(graph->PutVolume(kSilentVolume));
  EXPECT_EQ(graph->Volume(), kSilentVolume);
  EXPECT_EQ(graph->PutVolume(1).kind(), ErrorKind::kUsage);
  EXPECT_EQ(graph->PutVolume(-10001).kind(), ErrorKind::kUsage);
}

// A video that drops picture 5 but keeps the others' times: stepping counts pictures, running
// counts time, so the two ways part at the gap as they would on a real-time player.
TEST_F(MediaGraphTest, StepsCountPicturesWhileRunsCountTime) {
  const std::string path = Make({"gap.mkv", 32, 32, "25", 12, "-fps_mode passthrough -c:v mpeg4 -q:v 2"},
                                "-vf \"select='not(eq(n\\,5))'\"");
  auto graph = MediaGraph::Render(path);
  ASSERT_TRUE(graph) << graph.error().message;
  EXPECT_EQ(graph->Duration(TimeFormat::kFrame), 12);
  ASSERT_TRUE(graph->SetPositions(0, std::nullopt));
  std::vector<int> stepped{IndexOf(*graph->GetCurrentBuffer(), graph->ConnectedType())};
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(graph->Step());
    stepped.push_back(IndexOf(*graph->GetCurrentBuffer(), graph->ConnectedType()));
  }
  EXPECT_EQ(stepped, (std::vector<int>{0, 1, 2, 3, 4, 6, 7}));
  ASSERT_TRUE(graph->SetPositions(0, std::nullopt));
  ASSERT_TRUE(graph->Run());
  std::vector<int> ran;
  for (int position = 0; position <= 6; ++position) {
    ASSERT_TRUE(graph->RunUntil(position));
    ran.push_back(IndexOf(*graph->GetCurrentBuffer(), graph->ConnectedType()));
  }
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 4, 6}));
}

// A picture with a bright top-left quarter, stored with a display matrix as phones store it. The
// expected corners are where the ffmpeg tool's own player shows the bright quarter: the rotation
// tag its muxer takes turns the picture counter-clockwise for showing.
struct TurnCase {
  int rotate;         // the tag handed to the muxer
  int width, height;  // upright size
  bool brightTop, brightLeft;
};

class Rotated : public testing::TestWithParam<TurnCase> {};

std::string TurnName(const testing::TestParamInfo<TurnCase>& info) { return "By" + std::to_string(info.param.rotate); }

TEST_P(Rotated, ComesUprightBottomRowFirstWithPaddedRows) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const TurnCase& turn = GetParam();
  test::ScratchFolder folder("mediagraph");
  const std::string plain = folder.File("plain.mp4");
  const std::string path = folder.File("turned.mp4");
  ASSERT_TRUE(test::RunFfmpegTool(
      "-f lavfi -i \"color=c=black:s=35x20:r=10,format=rgb24,geq=r='if(lt(X,17)*lt(Y,10),250,10)':"
      "g='if(lt(X,17)*lt(Y,10),250,10)':b='if(lt(X,17)*lt(Y,10),250,10)'\" -frames:v 3 -c:v libx264 -crf 5 "
      "-pix_fmt yuv444p \"" + plain + "\""));
  ASSERT_TRUE(test::RunFfmpegTool("-i \"" + plain + "\" -c copy -metadata:s:v:0 rotate=" + std::to_string(turn.rotate) +
                                  " \"" + path + "\""));
  auto graph = MediaGraph::Render(path);
  ASSERT_TRUE(graph) << graph.error().message;
  const GrabberType& type = graph->ConnectedType();
  EXPECT_EQ(type.width, turn.width);
  EXPECT_EQ(type.height, turn.height);
  EXPECT_EQ(graph->NativeVideoSize().width, turn.width);
  auto rows = graph->GetCurrentBuffer();
  ASSERT_TRUE(rows);
  const std::size_t stride = PaddedRow(type.width);
  ASSERT_EQ(rows->size(), stride * static_cast<std::size_t>(type.height));
  // Stored row r holds upright row height - 1 - r.
  const auto pixel = [&](int x, int y) { return (*rows)[stride * static_cast<std::size_t>(type.height - 1 - y) + static_cast<std::size_t>(x) * 3]; };
  const int left = 2;
  const int right = type.width - 3;
  const int top = 2;
  const int bottom = type.height - 3;
  const int brightX = turn.brightLeft ? left : right;
  const int darkX = turn.brightLeft ? right : left;
  const int brightY = turn.brightTop ? top : bottom;
  const int darkY = turn.brightTop ? bottom : top;
  EXPECT_GT(pixel(brightX, brightY), 200);
  EXPECT_LT(pixel(darkX, brightY), 50);
  EXPECT_LT(pixel(brightX, darkY), 50);
  EXPECT_LT(pixel(darkX, darkY), 50);
  // Padding bytes stay zero.
  for (int y = 0; y < type.height; ++y) {
    for (std::size_t pad = static_cast<std::size_t>(type.width) * 3; pad < stride; ++pad) {
      ASSERT_EQ((*rows)[stride * static_cast<std::size_t>(y) + pad], 0);
    }
  }
  ExpectGrabbedPicturesMatchTheBuffer(*graph);
}

INSTANTIATE_TEST_SUITE_P(Turns, Rotated,
                         testing::Values(TurnCase{0, 35, 20, true, true}, TurnCase{90, 20, 35, false, true},
                                         TurnCase{180, 35, 20, false, false}, TurnCase{270, 20, 35, true, false}),
                         TurnName);

class Refusals : public MediaGraphTest {
 protected:
  void WriteBytes(const std::string& name, const std::string& bytes) { folder_.WriteFile(name, bytes); }
  ErrorKind KindFor(const std::string& path) {
    auto graph = MediaGraph::Render(path);
    EXPECT_FALSE(graph);
    if (graph) return ErrorKind::kUsage;
    EXPECT_NE(graph.error().message.find(path), std::string::npos) << graph.error().message;
    return graph.kind();
  }
};

TEST_F(Refusals, FilesThatAreNotVideoAreRefusedByKind) {
  EXPECT_EQ(KindFor(folder_.File("missing.mpg")), ErrorKind::kNotFound);
  EXPECT_EQ(KindFor(folder_.Path().string()), ErrorKind::kCannotRead);
  WriteBytes("notes.mpg", "These are a user's notes, not a video.\n");
  EXPECT_EQ(KindFor(folder_.File("notes.mpg")), ErrorKind::kNotThisFormat);
  WriteBytes("empty.mp4", "");
  EXPECT_EQ(KindFor(folder_.File("empty.mp4")), ErrorKind::kNotThisFormat);
  std::string noise(4096, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) >> 3);
  WriteBytes("noise.avi", noise);
  EXPECT_EQ(KindFor(folder_.File("noise.avi")), ErrorKind::kNotThisFormat);

  // A pipe nobody writes to would block the first read for ever.
  const std::string pipe = folder_.File("pipe.mpg");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(KindFor(pipe), ErrorKind::kCannotRead);

  const std::string audioOnly = folder_.File("sound.m4a");
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i sine=r=48000:d=1 -c:a aac \"" + audioOnly + "\""));
  EXPECT_EQ(KindFor(audioOnly), ErrorKind::kUnsupported);
}

// A playlist or a list of files names other files; none of them is opened, so nothing plays.
TEST_F(Refusals, FilesNamedInsideASourceAreNotOpened) {
  const std::string clip = Make({"named.mkv", 32, 32, "25", 5, "-c:v mpeg4 -q:v 2"});
  ASSERT_TRUE(MediaGraph::Render(clip));
  WriteBytes("list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + clip + "\n#EXT-X-ENDLIST\n");
  EXPECT_EQ(MediaGraph::Render(folder_.File("list.m3u8")).kind(), ErrorKind::kNotThisFormat);
  WriteBytes("list.ffconcat", "ffconcat version 1.0\nfile '" + clip + "'\n");
  EXPECT_EQ(MediaGraph::Render(folder_.File("list.ffconcat")).kind(), ErrorKind::kNotThisFormat);
  // A live playlist (no end mark) is refused at once, not after waiting for new entries.
  WriteBytes("live.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + clip + "\n");
  GraphLimits limits;
  limits.quietFor = std::chrono::seconds(30);
  const auto started = std::chrono::steady_clock::now();
  const auto live = MediaGraph::Render(folder_.File("live.m3u8"), limits);
  EXPECT_EQ(live.kind(), ErrorKind::kNotThisFormat);
  EXPECT_NE(live.error().message.find("live.m3u8"), std::string::npos) << live.error().message;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

// Every wait is bounded: a stream that gives no picture within its packet allowance is damaged.
TEST_F(Refusals, AStreamThatGivesNoPictureWithinItsAllowanceIsDamaged) {
  const std::string path = Make({"late.mp4", 32, 32, "25", 10, "-c:v libx264 -bf 3 -pix_fmt yuv420p"});
  GraphLimits limits;
  limits.packetsWithoutPicture = 1;  // x264 with B-frames holds its first picture back longer
  EXPECT_EQ(MediaGraph::Render(path, limits).kind(), ErrorKind::kDamaged);

  // Overwritten video data decodes to something or nothing, but every step ends.
  const std::string mpg = Make({"scrambled.mpg", 64, 48, "25", 30, "-c:v mpeg1video -q:v 2 -f mpeg"});
  {
    std::fstream file(mpg, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(3000);
    const std::string noise(2000, '\x5a');
    file.write(noise.data(), static_cast<std::streamsize>(noise.size()));
  }
  auto graph = MediaGraph::Render(mpg);
  ASSERT_TRUE(graph) << graph.error().message;
  for (int step = 0; step < 40; ++step) {
    ASSERT_TRUE(graph->Step());
    auto event = graph->WaitForCompletion(kWait);
    ASSERT_TRUE(event);
    if (*event == GraphEvent::kComplete) break;
  }
}

TEST_F(Refusals, TruncatedFilesAreRefusedOrEndEarlyWithoutHanging) {
  // An MP4 whose sample table sits at its end, cut in half: there is nothing to read it by.
  const std::string mp4 = Make({"cut.mp4", 64, 48, "25", 30, "-c:v libx264 -crf 10 -pix_fmt yuv420p"});
  const auto mp4Size = std::filesystem::file_size(mp4);
  std::filesystem::resize_file(mp4, mp4Size / 2);
  EXPECT_EQ(KindFor(mp4), ErrorKind::kDamaged);

  // A program stream cut in half still plays its first half; stepping on ends the stream.
  const std::string mpg = Make({"cut.mpg", 64, 48, "25", 30, "-c:v mpeg1video -q:v 2 -f mpeg"});
  std::filesystem::resize_file(mpg, std::filesystem::file_size(mpg) / 2);
  auto graph = MediaGraph::Render(mpg);
  ASSERT_TRUE(graph) << graph.error().message;
  ASSERT_TRUE(graph->SetPositions(0, std::nullopt));
  int steps = 0;
  while (true) {
    ASSERT_TRUE(graph->Step());
    auto event = graph->WaitForCompletion(kWait);
    ASSERT_TRUE(event);
    if (*event == GraphEvent::kComplete) break;
    ++steps;
    ASSERT_LT(steps, 30);
    EXPECT_EQ(IndexOf(*graph->GetCurrentBuffer(), graph->ConnectedType()), steps);
  }
  EXPECT_GT(steps, 3);
}

}  // namespace
}  // namespace reel
