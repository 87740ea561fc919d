#include "player/video/qrx_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <vector>

#include "movie_files.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using test::BackToBack;
using test::LaidFrame;
using test::LayContainer;

class QrxReaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<QrxReader> OpenLaid(const std::vector<uint8_t>& bytes, std::string& error) {
    test::WriteAllBytes(Path(), bytes);
    return Take(QrxReader::Open(Path()), error);
  }
  // The reader, or null with the error's message in `error`.
  static std::unique_ptr<QrxReader> Take(Result<std::unique_ptr<QrxReader>> opened,
                                         std::string& error) {
    if (!opened) {
      error = opened.error().message;
      return nullptr;
    }
    return std::move(*opened);
  }
  std::string Path() const { return folder_.Slash() + "movie.qrx"; }

  test::ScratchFolder folder_;
};

std::vector<uint8_t> Bytes(std::span<const uint8_t> span) { return {span.begin(), span.end()}; }

TEST_F(QrxReaderTest, ReadsTheHeaderFields) {
  std::string error;
  auto reader = OpenLaid(LayContainer(3, 15, 176, 144, BackToBack(3, 100)), error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(reader->FrameCount(), 3u);
  EXPECT_EQ(reader->FrameRate(), 15u);
  EXPECT_EQ(reader->Width(), 176u);
  EXPECT_EQ(reader->Height(), 144u);
  EXPECT_EQ(reader->BufferSize(), kLoadBufferSize);
  EXPECT_TRUE(reader->GetFrame(3).empty());
}

TEST_F(QrxReaderTest, WideMoviesGetLargerBuffers) {
  std::string error;
  auto reader = OpenLaid(LayContainer(2, 15, 640, 480, BackToBack(2, 10)), error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(reader->BufferSize(), kWideLoadBufferSize);
}

TEST_F(QrxReaderTest, EveryFrameInOrderAndAtRandom) {
  const auto frames = BackToBack(40, 30000);  // two frames a buffer
  std::string error;
  auto reader = OpenLaid(LayContainer(40, 15, 320, 240, frames), error);
  ASSERT_TRUE(reader) << error;
  for (uint32_t k = 0; k < 40; ++k) ASSERT_EQ(Bytes(reader->GetFrame(k)), frames[k].bytes) << k;

  std::mt19937 random(7);
  uint32_t at = 0;
  for (int i = 0; i < 400; ++i) {
    // Mostly small steps either way (the same frame again included), sometimes a long jump.
    const int32_t step = static_cast<int32_t>(random() % 7) - 3;
    at = random() % 4 == 0 ? static_cast<uint32_t>(random() % 40)
                           : static_cast<uint32_t>(std::clamp<int32_t>(static_cast<int32_t>(at) + step, 0, 39));
    ASSERT_EQ(Bytes(reader->GetFrame(at)), frames[at].bytes) << "step " << i << " frame " << at;
  }
  for (uint32_t k = 40; k-- > 0;) ASSERT_EQ(Bytes(reader->GetFrame(k)), frames[k].bytes) << k;
}

TEST_F(QrxReaderTest, PlayingForwardReadsEachBufferOnce) {
  const auto frames = BackToBack(20, 1000);
  std::string error;
  auto reader = OpenLaid(LayContainer(20, 15, 320, 240, frames), error);
  ASSERT_TRUE(reader) << error;
  for (uint32_t k = 0; k < 20; ++k) ASSERT_EQ(Bytes(reader->GetFrame(k)), frames[k].bytes);
  EXPECT_EQ(reader->FillCount(), 10u);  // two frames a buffer, each loaded once
}

TEST_F(QrxReaderTest, FramesLargerThanTheBufferAreLoadedWhole) {
  std::vector<LaidFrame> frames = BackToBack(3, 100);
  frames[1] = LaidFrame{200000, 100, std::vector<uint8_t>(200000, 0x5A)};
  frames[2].frameOffset = 200100;
  std::string error;
  auto reader = OpenLaid(LayContainer(3, 15, 320, 240, frames), error);
  ASSERT_TRUE(reader) << error;
  EXPECT_GE(reader->BufferSize(), 200000u);
  for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(Bytes(reader->GetFrame(k)), frames[k].bytes) << k;
}

TEST_F(QrxReaderTest, FramesOutOfOrderInTheFileAreStillFound) {
  // Frame 0 stored after frame 1, with a gap, and frame 2 sharing frame 0's bytes.
  std::vector<LaidFrame> frames = {LaidFrame{50, 80, std::vector<uint8_t>(50, 1)},
                                   LaidFrame{60, 0, std::vector<uint8_t>(60, 2)},
                                   LaidFrame{50, 80, {}}};
  std::string error;
  auto reader = OpenLaid(LayContainer(3, 15, 320, 240, frames), error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(Bytes(reader->GetFrame(0)), std::vector<uint8_t>(50, 1));
  EXPECT_EQ(Bytes(reader->GetFrame(1)), std::vector<uint8_t>(60, 2));
  EXPECT_EQ(Bytes(reader->GetFrame(2)), std::vector<uint8_t>(50, 1));
}

TEST_F(QrxReaderTest, EmptyMovieOpensAndHasNoFrames) {
  std::string error;
  auto reader = OpenLaid(LayContainer(0, 15, 320, 240, {}), error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(reader->FrameCount(), 0u);
  EXPECT_TRUE(reader->GetFrame(0).empty());
}

TEST_F(QrxReaderTest, DamagedMoviesAreRefused) {
  std::string error;
  const auto missing = QrxReader::Open(folder_.Slash() + "missing.qrx");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.kind(), ErrorKind::kNotFound);
  EXPECT_NE(missing.error().message.find("missing.qrx: cannot be opened"), std::string::npos);
  // Shorter than its header.
  EXPECT_FALSE(OpenLaid(std::vector<uint8_t>(47, 0), error));
  // A frame count whose index the file cannot hold.
  EXPECT_FALSE(OpenLaid(LayContainer(1000000, 15, 320, 240, BackToBack(2, 10)), error));
  EXPECT_NE(error.find("does not fit"), std::string::npos) << error;
  // The last frame runs past the end of the file.
  EXPECT_FALSE(OpenLaid(LayContainer(3, 15, 320, 240, BackToBack(3, 100), 48 + 72 + 299), error));
  EXPECT_NE(error.find("frame 2"), std::string::npos) << error;
  // An offset far past the end.
  std::vector<LaidFrame> frames = BackToBack(2, 10);
  frames[1].frameOffset = 0xFFFFFF00;
  frames[1].bytes.clear();
  EXPECT_FALSE(OpenLaid(LayContainer(2, 15, 320, 240, frames), error));
  // A folder is no movie.
  EXPECT_FALSE(Take(QrxReader::Open(folder_.Slash()), error));
}

TEST_F(QrxReaderTest, AFileCutShortWhilePlayingEndsWithoutWaiting) {
  const auto frames = BackToBack(30, 1000);
  std::string error;
  auto reader = OpenLaid(LayContainer(30, 15, 320, 240, frames), error);
  ASSERT_TRUE(reader) << error;
  std::filesystem::resize_file(Path(), 48 + 24 * 30 + 5000);
  EXPECT_EQ(Bytes(reader->GetFrame(1)), frames[1].bytes);  // loaded at open
  EXPECT_TRUE(reader->GetFrame(20).empty());
  EXPECT_TRUE(reader->Failed());
  EXPECT_TRUE(reader->GetFrame(0).empty());
}

TEST_F(QrxReaderTest, ClosingWhileTheLoaderWorksDoesNotHang) {
  const auto frames = BackToBack(200, 20000);
  test::WriteAllBytes(Path(), LayContainer(200, 15, 320, 240, frames));
  for (uint32_t round = 0; round < 20; ++round) {
    std::string error;
    auto reader = Take(QrxReader::Open(Path()), error);
    ASSERT_TRUE(reader) << error;
    reader->GetFrame(round * 7 % 200);
  }
}

}  // namespace
}  // namespace reel
