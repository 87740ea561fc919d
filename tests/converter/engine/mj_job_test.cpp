// ".mj" jobs on files written here from generated JPEG pictures and PCM sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "common/byte_io.h"
#include "converter/coder/bmp_image.h"
#include "converter/engine/mj_file.h"
#include "converter/jpeg/frame_jpeg.h"
#include "job_test_support.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using test::ScratchFolder;

constexpr uint32_t kGap = 16;  // bytes between a chunk's sound and its picture

struct MjClip {
  uint16_t width = 160;
  uint16_t height = 120;
  uint16_t channels = 2;
  uint32_t sampleRate = 22050;
  uint16_t rateNumerator = 15;
  uint16_t rateDenominator = 1;
  uint32_t chunks = 30;
  std::optional<uint32_t> damagedPicture;  // this chunk's JPEG is replaced by junk
};

std::vector<uint8_t> Picture(const MjClip& clip, uint32_t chunk) {
  auto picture = BmpImage::Create(clip.width, clip.height);
  for (uint32_t row = 0; row < clip.height; ++row) {
    auto bytes = picture->Row(row);
    for (uint32_t x = 0; x < clip.width; ++x) {
      bytes[3 * x] = static_cast<uint8_t>(chunk * 8);
      bytes[3 * x + 1] = static_cast<uint8_t>(x);
      bytes[3 * x + 2] = static_cast<uint8_t>(row);
    }
  }
  return *EncodeFrameJpeg(*picture, 75);
}

std::vector<uint8_t> Sound(const MjClip& clip, uint32_t chunk) {
  const uint32_t framesPerSecond =
      clip.rateNumerator == 0 || clip.rateDenominator == 0 ? 15 : std::max(1, clip.rateNumerator / clip.rateDenominator);
  const uint32_t samples = clip.sampleRate / framesPerSecond;
  std::vector<uint8_t> bytes;
  ByteWriter writer(bytes);
  for (uint32_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(chunk * samples + i) / clip.sampleRate;
    const auto value = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265 * 440 * t));
    for (uint16_t c = 0; c < clip.channels; ++c) writer.U16(static_cast<uint16_t>(value));
  }
  return bytes;
}

// Header, then the chunks (sound, gap, picture) from the base offset 44, then the index.
void WriteMj(const std::string& path, const MjClip& clip) {
  std::vector<uint8_t> body;
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  for (uint32_t e = 0; e < clip.chunks; ++e) {
    const auto sound = Sound(clip, e);
    auto picture = Picture(clip, e);
    if (clip.damagedPicture == e) std::fill(picture.begin(), picture.end(), uint8_t{0x5A});
    const auto chunkStart = static_cast<uint32_t>(body.size());
    body.insert(body.end(), sound.begin(), sound.end());
    body.insert(body.end(), kGap, 0);
    const auto pictureStart = static_cast<uint32_t>(body.size());
    body.insert(body.end(), picture.begin(), picture.end());
    entries.emplace_back(chunkStart, pictureStart);
  }
  entries.emplace_back(static_cast<uint32_t>(body.size()), static_cast<uint32_t>(body.size()));
  MjHeader header;
  header.width = clip.width;
  header.height = clip.height;
  header.channels = clip.channels;
  header.sampleRate = clip.sampleRate;
  header.rateNumerator = clip.rateNumerator;
  header.rateDenominator = clip.rateDenominator;
  header.indexEntries = static_cast<uint16_t>(entries.size());
  header.soundChunksPlusOne = static_cast<uint16_t>(clip.chunks + 1);
  header.baseOffset = kMjHeaderSize;
  header.indexOffset = static_cast<uint32_t>(kMjHeaderSize + body.size());
  header.gapSize = kGap;
  std::vector<uint8_t> file = MjHeaderBytes(header);
  file.insert(file.end(), body.begin(), body.end());
  ByteWriter writer(file);
  for (const auto& [chunkStart, pictureStart] : entries) {
    writer.U32(chunkStart);
    writer.U32(0);
    writer.U32(pictureStart);
    for (int i = 0; i < 3; ++i) writer.U32(0);
  }
  ASSERT_TRUE(test::WriteAllBytes(path, file));
}

TEST(MjJobTest, ConvertsPicturesAndSound) {
  ScratchFolder folder;
  const std::string source = folder.File("clip.MJ");
  WriteMj(source, {});
  const JobReport report = test::RunJob(test::SettingsFor(source, folder.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_TRUE(report.warnings.empty());
  const QrxHeader header = test::ReadHeader(folder.File("clip.qrx"));
  EXPECT_EQ(header.frameCount, 30u);
  EXPECT_EQ(header.frameRate, 15u);
  EXPECT_EQ(header.width, 320u);
  EXPECT_EQ(header.height, 240u);
  EXPECT_TRUE(test::Verified(folder.File("clip.qrx")));
  const auto duration = test::AudioDuration(folder.File("clip.mp3"));
  ASSERT_TRUE(duration);
  EXPECT_NEAR(*duration, 2.0, 0.15);
}

TEST(MjJobTest, StandardChoiceHalvesAFastSourceAndPortraitKeepsTheBoxWidth) {
  ScratchFolder folder;
  const std::string source = folder.File("tall.mj");
  MjClip clip;
  clip.width = 120;
  clip.height = 160;
  clip.rateNumerator = 30000;
  clip.rateDenominator = 1001;  // 29 fps by integer division: 14 fps movie
  clip.chunks = 29;
  WriteMj(source, clip);
  const JobReport report = test::RunJob(test::SettingsFor(source, folder.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  const QrxHeader header = test::ReadHeader(folder.File("tall.qrx"));
  EXPECT_EQ(header.frameRate, 14u);
  EXPECT_EQ(header.frameCount, 2900u / 207u);
  EXPECT_EQ(header.width, 320u);
  EXPECT_EQ(header.height, 426u);
  EXPECT_TRUE(test::Verified(folder.File("tall.qrx")));
}

TEST(MjJobTest, AnUndecodablePictureRepeatsTheFrameBeforeIt) {
  ScratchFolder folder;
  const std::string source = folder.File("hurt.mj");
  MjClip clip;
  clip.damagedPicture = 3;
  WriteMj(source, clip);
  const JobReport report = test::RunJob(test::SettingsFor(source, folder.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(report.warnings[0].find("1 of 30 frames"), std::string::npos);
  EXPECT_TRUE(test::Verified(folder.File("hurt.qrx")));
  // Frame 3 is frame 2 again, byte for byte.
  const auto movie = test::ReadAllBytes(folder.File("hurt.qrx"));
  const auto entry = [&](uint32_t k) {
    return ReadQrxIndexEntry(std::span<const uint8_t>(movie).subspan(48 + 24 * k).first<kQrxIndexEntrySize>());
  };
  const uint32_t dataOffset = 48 + 24 * 30;
  ASSERT_EQ(entry(2).codedSize, entry(3).codedSize);
  EXPECT_TRUE(std::equal(movie.begin() + dataOffset + entry(2).frameOffset,
                         movie.begin() + dataOffset + entry(2).frameOffset + entry(2).codedSize,
                         movie.begin() + dataOffset + entry(3).frameOffset));
}

TEST(MjJobTest, BadSourcesAreRefusedAndWriteNothing) {
  ScratchFolder folder;
  MjClip zeroRate;
  zeroRate.rateNumerator = 0;
  WriteMj(folder.File("zero.mj"), zeroRate);
  MjClip noDenominator;
  noDenominator.rateDenominator = 0;
  WriteMj(folder.File("nodenominator.mj"), noDenominator);
  WriteMj(folder.File("cut.mj"), {});
  std::filesystem::resize_file(folder.File("cut.mj"), 5000);  // the index is gone
  folder.WriteFile("tiny.mj", "MJ");
  const std::vector<std::string> before = folder.Names();
  for (const char* name : {"zero.mj", "nodenominator.mj", "cut.mj", "tiny.mj", "missing.mj"}) {
    const JobReport report = test::RunJob(test::SettingsFor(folder.File(name), folder.Path().string()));
    EXPECT_EQ(report.status, JobStatus::kFailed) << name;
    EXPECT_NE(report.error.find(name), std::string::npos) << report.error;
  }
  EXPECT_EQ(folder.Names(), before);
  // The reader says what kind of trouble each file is.
  EXPECT_EQ(MjFile::Open(folder.File("cut.mj")).kind(), ErrorKind::kDamaged);
  EXPECT_EQ(MjFile::Open(folder.File("tiny.mj")).kind(), ErrorKind::kDamaged);
  const auto missing = MjFile::Open(folder.File("missing.mj"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.kind(), ErrorKind::kCannotRead);
  EXPECT_EQ(missing.error().message, folder.File("missing.mj") + ": cannot open the file");
}

TEST(MjJobTest, UnusableSoundGivesAnEmptyCompanionAndAWarning) {
  ScratchFolder folder;
  const std::string source = folder.File("odd.mj");
  MjClip clip;
  clip.channels = 5;  // no such PCM for the encoder
  WriteMj(source, clip);
  const JobReport report = test::RunJob(test::SettingsFor(source, folder.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  ASSERT_FALSE(report.warnings.empty());
  EXPECT_NE(report.warnings[0].find("companion file is empty"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(folder.File("odd.mp3")));
}

}  // namespace
}  // namespace reel
