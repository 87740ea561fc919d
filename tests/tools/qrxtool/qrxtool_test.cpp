#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/byte_io.h"
#include "common/qrx_format.h"
#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "tools/qrxtool/movie_file.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {


test::CommandResult RunQrxtool(const std::string& arguments) {
  return test::RunCommand(std::string(QRXTOOL_PATH) + " " + arguments);
}

class QrxtoolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // ctest runs each test in a process of its own, several at once: each gets its own folder.
    folder_ = std::make_unique<test::ScratchFolder>("qrxtool");
    QrxOutput movie = CreateQrxFile(Path("good.qrx"));
    static_cast<void>(BeginQrx(movie, 4, 15, PictureSizeChoice::k320x240));
    SetQrxPictureSize(movie, 320, 218);
    for (uint32_t k = 0; k < 4; ++k) {
      static_cast<void>(AppendQrxFrame(movie, *CodeCoefficients(MakeSampleCoefficients(320, 218, 50, k * 5), 50)));
    }
    ASSERT_TRUE(FinishQrx(movie));
    good_ = test::ReadAllBytes(Path("good.qrx"));
  }
  static void TearDownTestSuite() { folder_.reset(); }
  static std::string Path(const std::string& name) { return folder_->File(name); }

  // The problems VerifyMovie finds in `bytes`, or the parse error as the only line.
  static std::vector<std::string> Problems(std::vector<uint8_t> bytes) {
    auto movie = ParseMovie(std::move(bytes));
    if (!movie) return {movie.error().message};
    return VerifyMovie(*movie);
  }
  static bool Mentions(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  static void Poke32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
    StoreU32(std::span<uint8_t>(bytes).subspan(at).first<4>(), value);
  }

  static inline std::unique_ptr<test::ScratchFolder> folder_;
  static inline std::vector<uint8_t> good_;
};

TEST_F(QrxtoolTest, VerifyAcceptsWhatTheWriterProduces) {
  EXPECT_TRUE(Problems(good_).empty());
  const test::CommandResult r = RunQrxtool("verify " + Path("good.qrx"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("sound"), std::string::npos);

  QrxOutput empty = CreateQrxFile(Path("empty.qrx"));
  static_cast<void>(BeginQrx(empty, 0, 15, PictureSizeChoice::k320x240));
  static_cast<void>(FinishQrx(empty));
  EXPECT_EQ(RunQrxtool("verify " + Path("empty.qrx")).status, 0);
}

TEST_F(QrxtoolTest, VerifyNamesEachDamage) {
  auto badMagic = good_;
  badMagic[0] = 'X';
  EXPECT_TRUE(Mentions(Problems(badMagic), "magic"));

  auto badSize = good_;
  Poke32(badSize, 32, 12);
  EXPECT_TRUE(Mentions(Problems(badSize), "file size field"));

  auto gap = good_;
  Poke32(gap, 48 + 24 * 2 + 16, 5);  // frame 2's offset no longer follows frame 1
  EXPECT_TRUE(Mentions(Problems(gap), "index entry 2: frame offset"));

  auto truncated = good_;
  truncated.resize(truncated.size() - 100);
  const auto truncatedProblems = Problems(truncated);
  EXPECT_TRUE(Mentions(truncatedProblems, "index entry 3: frame lies outside the file"));

  const uint32_t dataOffset = 48 + 24 * 4;
  auto badTag = good_;
  badTag[dataOffset] = 'X';
  EXPECT_TRUE(Mentions(Problems(badTag), "frame 0: tag"));

  auto badStream = good_;  // garble frame 1's AC stream: the frame no longer decodes whole
  const QrxIndexEntry second = ReadQrxIndexEntry(std::span<const uint8_t>(good_).subspan(48 + 24).first<24>());
  Poke32(badStream, dataOffset + second.frameOffset + 40 - 12, 0xFFFFFF00);  // the DC stream length
  EXPECT_TRUE(Mentions(Problems(badStream), "frame 1:"));

  auto unfinished = good_;  // a job cut short: zero index, file size 0
  std::fill(unfinished.begin() + 32, unfinished.begin() + 36, 0);
  std::fill(unfinished.begin() + 48, unfinished.begin() + dataOffset, 0);
  EXPECT_FALSE(Problems(unfinished).empty());

  test::WriteAllBytes(Path("bad.qrx"), gap);
  const test::CommandResult r = RunQrxtool("verify " + Path("bad.qrx"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(Path("bad.qrx") + ": index entry 2"), std::string::npos) << r.output;
}

// Entries that point at one frame are each reported with that frame's problems.
TEST_F(QrxtoolTest, VerifyReportsASharedFrameUnderEachEntry) {
  auto shared = good_;
  const uint32_t dataOffset = 48 + 24 * 4;
  shared[dataOffset] = 'X';  // frame 0's tag
  const QrxIndexEntry first = ReadQrxIndexEntry(std::span<const uint8_t>(good_).subspan(48).first<24>());
  for (std::size_t k = 2; k < 4; ++k) {  // entries 2 and 3 point at frame 0 too
    Poke32(shared, 48 + 24 * k + 4, first.codedSize);
    Poke32(shared, 48 + 24 * k + 16, first.frameOffset);
  }
  const auto problems = Problems(shared);
  for (const char* label : {"frame 0: tag", "frame 2: tag", "frame 3: tag"}) {
    EXPECT_TRUE(Mentions(problems, label)) << label;
  }
  EXPECT_FALSE(Mentions(problems, "frame 1: "));
}

TEST_F(QrxtoolTest, BadInputGetsOneLineNamingTheFile) {
  const std::string missing = Path("missing.qrx");
  test::CommandResult r = RunQrxtool("info " + missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "qrxtool: " + missing + ": cannot open the file\n");

  test::WriteAllBytes(Path("short.qrx"), std::vector<uint8_t>(good_.begin(), good_.begin() + 20));
  r = RunQrxtool("verify " + Path("short.qrx"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("shorter than the 48-byte movie header"), std::string::npos);

  auto hugeIndex = good_;
  Poke32(hugeIndex, 8, 0x7FFFFFFF);
  test::WriteAllBytes(Path("huge.qrx"), hugeIndex);
  r = RunQrxtool("frame " + Path("huge.qrx") + " 0 " + Path("out.ppm"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("runs past the end of the file"), std::string::npos);

  r = RunQrxtool("frame " + Path("good.qrx") + " 9 " + Path("out.ppm"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("does not exist"), std::string::npos);

  EXPECT_EQ(RunQrxtool("frame " + Path("good.qrx") + " x " + Path("out.ppm")).status, 2);
  EXPECT_EQ(RunQrxtool("info").status, 2);
  EXPECT_EQ(RunQrxtool("nonsense").status, 2);
}

TEST_F(QrxtoolTest, InfoListsTheHeaderAndEveryEntry) {
  test::CommandResult r = RunQrxtool("info " + Path("good.qrx"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("picture size:   320 x 218"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("frame 3: offset"), std::string::npos);
}

// The JSON is read back by a JSON reader for every name: UTF-8 as it is, and a name that is not
// UTF-8 with its bad byte replaced by U+FFFD.
TEST_F(QrxtoolTest, InfoJsonIsValidForEveryFileName) {
  const struct {
    std::string name;
    std::string inJson;
  } names[] = {
      {"good.qrx", "good.qrx"},
      {"\xe5\x8b\x95\xe7\x94\xbb.qrx", "\xe5\x8b\x95\xe7\x94\xbb.qrx"},  // 動画.qrx
      {"bad\xff\\\".qrx", "bad\xef\xbf\xbd\\\".qrx"},
  };
  for (const auto& n : names) {
    if (n.name != "good.qrx") std::filesystem::copy_file(Path("good.qrx"), Path(n.name));
    const std::string path = Path(n.name);
    const test::CommandResult r = test::RunCommand(std::string(QRXTOOL_PATH) + " info --json '" + path + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto info = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(info.is_discarded()) << r.output;
    EXPECT_EQ(info["file"], path.substr(0, path.size() - n.name.size()) + n.inJson);
    EXPECT_EQ(info["frameCount"], 4);
    EXPECT_EQ(info["index"].size(), 4u);
    EXPECT_EQ(info["index"][3]["rawSize"], 209280);
  }
}

TEST_F(QrxtoolTest, FrameWritesThePictureAtItsOwnSize) {
  ASSERT_EQ(RunQrxtool("frame " + Path("good.qrx") + " 2 " + Path("f2.ppm")).status, 0);
  const auto ppm = test::ReadAllBytes(Path("f2.ppm"));
  const std::string header = "P6\n320 218\n255\n";
  ASSERT_EQ(ppm.size(), header.size() + 320u * 218u * 3u);
  EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + static_cast<std::ptrdiff_t>(header.size())), header);

  ASSERT_EQ(RunQrxtool("frame --raw565 " + Path("good.qrx") + " 2 " + Path("f2.raw")).status, 0);
  const auto raw = test::ReadAllBytes(Path("f2.raw"));
  ASSERT_EQ(raw.size(), 320u * 224u * 2u);  // the padded picture
  // Every PPM sample is the bit-replicated widening of the 5-6-5 word.
  for (std::size_t y = 0; y < 218; y += 37) {
    for (std::size_t x = 0; x < 320; x += 41) {
      const std::size_t w = (y * 320 + x) * 2;
      const uint32_t p = raw[w] | (raw[w + 1] << 8);
      const uint32_t r5 = p >> 11, g6 = (p >> 5) & 63, b5 = p & 31;
      const std::size_t at = header.size() + (y * 320 + x) * 3;
      EXPECT_EQ(ppm[at], (r5 << 3) | (r5 >> 2));
      EXPECT_EQ(ppm[at + 1], (g6 << 2) | (g6 >> 4));
      EXPECT_EQ(ppm[at + 2], (b5 << 3) | (b5 >> 2));
    }
  }

  // A frame on its own decodes to the same picture.
  auto movie = ParseMovie(good_);
  const auto frame = movie->FrameBytes(2);
  test::WriteAllBytes(Path("f2.jbp1"), std::vector<uint8_t>(frame->begin(), frame->end()));
  ASSERT_EQ(RunQrxtool("decode-frame " + Path("f2.jbp1") + " " + Path("single.ppm")).status, 0);
  EXPECT_EQ(test::ReadAllBytes(Path("single.ppm")), ppm);
  EXPECT_EQ(RunQrxtool("decode-frame " + Path("short.qrx") + " " + Path("x.ppm")).status, 1);
}

}  // namespace
}  // namespace reel
