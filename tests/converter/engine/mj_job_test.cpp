// ".mj" jobs on files written here from generated JPEG pictures and PCM sound, and the ".mj"
// soundtrack read whole and in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "converter/audio/mp3_encoder.h"
#include "converter/audio/sound_format_conversion.h"
#include "converter/engine/mj_file.h"
#include "converter/engine/mj_sound.h"
#include "job_test_support.h"
#include "mj_test_files.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using test::ScratchFolder;

using test::MjClip;

TEST(MjJobTest, ConvertsPicturesAndSound) {
  ScratchFolder folder;
  const std::string source = folder.File("clip.MJ");
  ASSERT_TRUE(test::WriteMj(source, {}));
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
  ASSERT_TRUE(test::WriteMj(source, clip));
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
  ASSERT_TRUE(test::WriteMj(source, clip));
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
  ASSERT_TRUE(test::WriteMj(folder.File("zero.mj"), zeroRate));
  MjClip noDenominator;
  noDenominator.rateDenominator = 0;
  ASSERT_TRUE(test::WriteMj(folder.File("nodenominator.mj"), noDenominator));
  ASSERT_TRUE(test::WriteMj(folder.File("cut.mj"), {}));
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
  ASSERT_TRUE(test::WriteMj(source, clip));
  const JobReport report = test::RunJob(test::SettingsFor(source, folder.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  ASSERT_FALSE(report.warnings.empty());
  EXPECT_NE(report.warnings[0].find("companion file is empty"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(folder.File("odd.mp3")));
}


// The clip's sound as its chunks hold it: every chunk in bounds joined, cut to whole sample frames.
std::vector<uint8_t> JoinedSound(const MjClip& clip) {
  std::vector<uint8_t> joined;
  const uint32_t named = clip.soundChunksPlusOne.value_or(clip.chunks + 1);
  const uint32_t chunks = std::min<uint32_t>(named > 0 ? named - 1 : 0, clip.chunks);
  for (uint32_t e = 0; e < chunks; ++e) {
    if (std::find(clip.damagedSound.begin(), clip.damagedSound.end(), e) != clip.damagedSound.end()) continue;
    const auto sound = test::MjChunkSound(clip, e);
    joined.insert(joined.end(), sound.begin(), sound.end());
  }
  joined.resize(joined.size() - joined.size() % (2u * clip.channels));
  return joined;
}

// Whole sound, then pieces: the same bytes, every piece whole sample frames.
TEST(MjSoundTest, PiecesJoinToTheWholeSoundInWholeSampleFrames) {
  ScratchFolder folder;
  MjClip odd;  // an odd chunk size in the middle runs on into the next; 44.1 kHz: several pieces
  odd.sampleRate = 44100;
  odd.chunks = 60;
  odd.soundBytes = {11761, 1, 0, 8819, 2};
  odd.damagedSound = {4, 11};
  MjClip mono;
  mono.channels = 1;
  mono.soundBytes = {1471, 1469};
  MjClip beyond;  // the index's last entry counts as a chunk too, with no sound in bounds
  beyond.soundChunksPlusOne = 40;
  MjClip silent;
  silent.soundChunksPlusOne = 0;
  for (const auto& [name, clip] : {std::pair{"odd", odd}, std::pair{"mono", mono}, std::pair{"beyond", beyond},
                                   std::pair{"silent", silent}}) {
    SCOPED_TRACE(name);
    const std::string path = folder.File(std::string(name) + ".mj");
    ASSERT_TRUE(test::WriteMj(path, clip));
    Result<MjFile> file = MjFile::Open(path);
    ASSERT_TRUE(file);
    const MjSoundLayout layout = LayOutMjSound(*file);
    ASSERT_TRUE(layout.format);
    const std::vector<uint8_t> whole = ReadWholeMjSound(*file, layout);
    EXPECT_TRUE(whole == JoinedSound(clip));
    Result<std::unique_ptr<SoundPieces>> pieces = OpenMjSoundPieces(path, layout, [] { return false; });
    ASSERT_TRUE(pieces);
    std::vector<uint8_t> joined;
    int count = 0;
    for (bool more = true; more; ++count) {
      const std::size_t before = joined.size();
      const Result<bool> next = (*pieces)->Next(joined);
      ASSERT_TRUE(next);
      more = *next;
      EXPECT_EQ((joined.size() - before) % layout.format->blockAlign, 0u);
    }
    EXPECT_TRUE(joined == whole) << joined.size() << " bytes against " << whole.size();
    if (clip.sampleRate == 44100) {
      EXPECT_GT(count, 3);
    }
  }
  EXPECT_EQ(LayOutMjSound(*MjFile::Open(folder.File("odd.mj"))).outOfBounds, 2u);
}

// The pieces read a file of their own: one that changed since the job looked at it, or is gone,
// is an error naming it, and so is a stop.
TEST(MjSoundTest, PiecesOfAChangedOrMissingFileOrAStoppedJobEndInAnError) {
  ScratchFolder folder;
  const std::string path = folder.File("clip.mj");
  ASSERT_TRUE(test::WriteMj(path, {}));
  const MjSoundLayout layout = LayOutMjSound(*MjFile::Open(path));
  Result<std::unique_ptr<SoundPieces>> stopped = OpenMjSoundPieces(path, layout, [] { return true; });
  ASSERT_TRUE(stopped);
  std::vector<uint8_t> bytes;
  EXPECT_EQ((*stopped)->Next(bytes).kind(), ErrorKind::kStopped);
  MjClip mono;
  mono.channels = 1;
  ASSERT_TRUE(test::WriteMj(path, mono));
  const auto changed = OpenMjSoundPieces(path, layout, [] { return false; });
  ASSERT_FALSE(changed);
  EXPECT_EQ(changed.kind(), ErrorKind::kCannotRead);
  EXPECT_NE(changed.error().message.find(path), std::string::npos);
  std::filesystem::remove(path);
  EXPECT_EQ(OpenMjSoundPieces(path, layout, [] { return false; }).kind(), ErrorKind::kCannotRead);
}

struct SoundCase {
  const char* name;
  MjClip clip;
  AudioRate rate = AudioRate::k22050;
  Channels channels = Channels::kStereo;
  AudioEncoder encoder = AudioEncoder::kMp3;  // .mj sources give MP3 whatever is chosen
  std::vector<std::string> warnings = {};
};

void PrintTo(const SoundCase& c, std::ostream* out) { *out << c.name; }

MjClip Clip(uint16_t channels, uint32_t sampleRate, std::vector<uint32_t> soundBytes) {
  MjClip clip;
  clip.channels = channels;
  clip.sampleRate = sampleRate;
  clip.soundBytes = std::move(soundBytes);
  return clip;
}

MjClip Damaged(MjClip clip, std::vector<uint32_t> chunks, std::optional<uint16_t> soundChunksPlusOne) {
  clip.damagedSound = std::move(chunks);
  clip.soundChunksPlusOne = soundChunksPlusOne;
  return clip;
}

class MjSoundJobTest : public ::testing::TestWithParam<SoundCase> {};

// The job's companion, made in pieces beside the frame loop or after it, is the whole-block
// path's byte for byte, with the same warnings in the same order; the movie does not change.
TEST_P(MjSoundJobTest, CompanionIsTheWholeBlockPathsByteForByte) {
  const SoundCase& c = GetParam();
  ScratchFolder folder;
  const std::string source = folder.File("clip.mj");
  ASSERT_TRUE(test::WriteMj(source, c.clip));
  JobSettings settings = test::SettingsFor(source, folder.Path().string());
  settings.audioRate = c.rate;
  settings.channels = c.channels;
  settings.encoderChoice = c.encoder;
  const bool highRate = c.rate == AudioRate::k44100;
  const bool stereo = c.channels == Channels::kStereo;
  const bool usable = c.clip.channels >= 1 && c.clip.channels <= 2;
  const WAVEFORMATEX format = usable ? PcmWaveFormat(c.clip.sampleRate, c.clip.channels, 16) : CompanionTargetFormat(highRate, stereo);
  const EncodedAudio reference =
      EncodeMp3(usable ? JoinedSound(c.clip) : std::vector<uint8_t>{}, format, {AudioEncoder::kMp3, settings.audioBitRateIndex, highRate, stereo});
  ASSERT_EQ(reference.outcome, AudioOutcome::kEncoded);
  std::vector<uint8_t> movie;
  for (const unsigned coders : {0u, 2u}) {
    SCOPED_TRACE(std::to_string(coders) + " coders");
    const std::string out = folder.File("coders" + std::to_string(coders));
    std::filesystem::create_directory(out);
    settings.outputFolder = out;
    const JobReport report = test::RunJob(settings, std::nullopt, nullptr, coders);
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_EQ(report.warnings, c.warnings);
    EXPECT_EQ(report.audioPath, out + "/clip.mp3");
    EXPECT_EQ(report.audioBytes, reference.bytes.size());
    EXPECT_TRUE(test::ReadAllBytes(report.audioPath) == reference.bytes);
    const auto bytes = test::ReadAllBytes(report.moviePath);
    if (coders == 0) movie = bytes;
    EXPECT_TRUE(bytes == movie);
  }
}

const char* const kTwoOutOfBounds = "2 .mj chunks have sound outside their bounds; it was left out";

INSTANTIATE_TEST_SUITE_P(
    Sounds, MjSoundJobTest,
    ::testing::Values(
        SoundCase{.name = "odd_chunks_as_they_are", .clip = Clip(2, 22050, {5881, 1, 0, 4409, 7351})},
        SoundCase{.name = "mono_44100_to_stereo_22050", .clip = Clip(1, 44100, {4411, 2939, 5883})},
        SoundCase{.name = "stereo_44100_to_mono_ogg_chosen", .clip = Clip(2, 44100, {11763, 11757}),
                  .rate = AudioRate::k44100, .channels = Channels::kMono, .encoder = AudioEncoder::kOgg},
        SoundCase{.name = "mono_22050_to_stereo_44100", .clip = Clip(1, 22050, {1471, 1469}), .rate = AudioRate::k44100},
        SoundCase{.name = "damaged_chunks", .clip = Damaged(Clip(2, 22050, {5881, 2937}), {0, 17}, std::nullopt),
                  .warnings = {kTwoOutOfBounds}},
        SoundCase{.name = "beyond_the_index", .clip = Damaged(Clip(2, 44100, {}), {3}, 40), .rate = AudioRate::k44100,
                  .channels = Channels::kMono,
                  .warnings = {"the .mj header names more sound chunks than its index holds; the extra ones are ignored",
                               kTwoOutOfBounds}},
        SoundCase{.name = "no_sound_chunks", .clip = Damaged(Clip(2, 44100, {}), {}, 1), .rate = AudioRate::k44100},
        SoundCase{.name = "three_channels", .clip = Clip(3, 22050, {}),
                  .warnings = {"the .mj sound has 3 channels at 22050 Hz, which cannot be converted; the companion file is empty"}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace reel
