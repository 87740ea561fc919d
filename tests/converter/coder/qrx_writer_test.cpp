#include "converter/coder/qrx_writer.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "common/qrx_format.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

class QrxWriterTest : public ::testing::Test {
 protected:
  std::string PathOf(const char* name) const { return folder_.File(name); }

  static QrxHeader HeaderOf(const std::vector<uint8_t>& bytes) {
    return ReadQrxHeader(std::span<const uint8_t>(bytes).first<kQrxHeaderSize>());
  }
  static QrxIndexEntry EntryOf(const std::vector<uint8_t>& bytes, std::size_t k) {
    return ReadQrxIndexEntry(std::span<const uint8_t>(bytes).subspan(48 + 24 * k).first<kQrxIndexEntrySize>());
  }

  test::ScratchFolder folder_{"qrx-writer"};
};

TEST_F(QrxWriterTest, EmptyMovieIsJustTheHeader) {
  QrxOutput movie = CreateQrxFile(PathOf("empty.qrx"));
  ASSERT_TRUE(BeginQrx(movie, 0, 15, PictureSizeChoice::k320x240));
  ASSERT_TRUE(FinishQrx(movie));
  const auto bytes = test::ReadAllBytes(PathOf("empty.qrx"));
  ASSERT_EQ(bytes.size(), 48u);
  const QrxHeader h = HeaderOf(bytes);
  EXPECT_EQ(h.magic, kQrxMagic);
  EXPECT_EQ(h.frameCount, 0u);
  EXPECT_EQ(h.dataOffset, 48u);
  EXPECT_EQ(h.fileSize, 48u);
  EXPECT_EQ(h.frameRate, 15u);
  EXPECT_EQ(h.constantOne, 1u);
  EXPECT_EQ(h.bitsPerPixel, 24u);
}

TEST_F(QrxWriterTest, FramesAreStoredBackToBackWithTheirIndex) {
  const std::string path = PathOf("three.qrx");
  ASSERT_TRUE(test::WriteAllBytes(path, std::string(5000, 'x')));  // an older, longer file of the same name
  QrxOutput movie = CreateQrxFile(path);
  ASSERT_TRUE(BeginQrx(movie, 3, 15, PictureSizeChoice::k320x240));
  SetQrxPictureSize(movie, 320, 218);
  const std::vector<std::vector<uint8_t>> frames = {std::vector<uint8_t>(120, 1), std::vector<uint8_t>(80, 2),
                                                    std::vector<uint8_t>(200, 3)};
  ASSERT_TRUE(AppendQrxFrame(movie, frames[0]));
  // Mid-job the file holds a header with file size 0 and a zero index.
  std::fflush(movie.file.get());
  const auto partial = test::ReadAllBytes(path);
  EXPECT_EQ(HeaderOf(partial).fileSize, 0u);
  EXPECT_EQ(EntryOf(partial, 0), (QrxIndexEntry{0, 0, 0, 0, 0, 0}));

  ASSERT_TRUE(AppendQrxFrame(movie, frames[1]));
  ASSERT_TRUE(AppendQrxFrame(movie, frames[2]));
  EXPECT_EQ(movie.framesAppended, 3u);
  ASSERT_TRUE(FinishQrx(movie));

  const auto bytes = test::ReadAllBytes(path);
  const QrxHeader h = HeaderOf(bytes);
  EXPECT_EQ(h.dataOffset, 120u);
  EXPECT_EQ(h.fileSize, 520u);
  EXPECT_EQ(bytes.size(), 520u);
  EXPECT_EQ(h.width, 320u);
  EXPECT_EQ(h.height, 218u);
  const uint32_t offsets[] = {0, 120, 200};
  for (uint32_t k = 0; k < 3; ++k) {
    const QrxIndexEntry e = EntryOf(bytes, k);
    EXPECT_EQ(e, (QrxIndexEntry{k, static_cast<uint32_t>(frames[k].size()), 209280, 2, offsets[k], 0}));
    EXPECT_EQ(bytes[h.dataOffset + offsets[k]], frames[k][0]);
  }
}

TEST_F(QrxWriterTest, PictureSizeChoiceSetsTheDefaultSize) {
  QrxOutput movie = CreateQrxFile(PathOf("large.qrx"));
  ASSERT_TRUE(BeginQrx(movie, 0, 30, PictureSizeChoice::k640x480));
  EXPECT_EQ(QrxWidth(movie), 640u);
  EXPECT_EQ(QrxHeight(movie), 480u);
  EXPECT_TRUE(FinishQrx(movie));
}

TEST_F(QrxWriterTest, FailuresAreReportedWithTheFileName) {
  const std::string missingDir = PathOf("no/such/dir/movie.qrx");
  QrxOutput cannotCreate = CreateQrxFile(missingDir);
  ASSERT_FALSE(cannotCreate.status);
  EXPECT_EQ(cannotCreate.status.kind(), ErrorKind::kCannotWrite);
  EXPECT_NE(cannotCreate.status.error().message.find(missingDir), std::string::npos);
  EXPECT_FALSE(BeginQrx(cannotCreate, 1, 15, PictureSizeChoice::k320x240));
  EXPECT_FALSE(AppendQrxFrame(cannotCreate, std::vector<uint8_t>(10)));
  EXPECT_FALSE(FinishQrx(cannotCreate));

  QrxOutput tooMany = CreateQrxFile(PathOf("toomany.qrx"));
  ASSERT_TRUE(BeginQrx(tooMany, 1, 15, PictureSizeChoice::k320x240));
  EXPECT_TRUE(AppendQrxFrame(tooMany, std::vector<uint8_t>(10)));
  EXPECT_FALSE(AppendQrxFrame(tooMany, std::vector<uint8_t>(10)));
  EXPECT_FALSE(FinishQrx(tooMany));

  QrxOutput emptyFrame = CreateQrxFile(PathOf("emptyframe.qrx"));  // nothing to write is no failure
  ASSERT_TRUE(BeginQrx(emptyFrame, 1, 15, PictureSizeChoice::k320x240));
  EXPECT_TRUE(AppendQrxFrame(emptyFrame, {}));
  EXPECT_TRUE(FinishQrx(emptyFrame));

  QrxOutput tooFew = CreateQrxFile(PathOf("toofew.qrx"));
  ASSERT_TRUE(BeginQrx(tooFew, 2, 15, PictureSizeChoice::k320x240));
  EXPECT_TRUE(AppendQrxFrame(tooFew, std::vector<uint8_t>(10)));
  EXPECT_FALSE(FinishQrx(tooFew));
  EXPECT_NE(tooFew.status.error().message.find("1 of 2"), std::string::npos);
}

}  // namespace
}  // namespace reel
