// qrxtool code-jpeg and code-picture, run as a user runs them. code-jpeg must give the frame the
// frame format defines for the JPEG's coefficients, taken here from libjpeg's own reading;
// code-picture's frame must decode to a picture close to the scaled source.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "converter/coder/frame_coder.h"
#include "converter/coder/picture_scaler.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/jpeg_pictures.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

class QrxtoolCoding : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(REEL_QRXTOOL_PATH).empty()) GTEST_SKIP() << "qrxtool is not part of this build";
  }

  std::string Path(const std::string& name) const { return folder_.File(name); }

  // Exit status of qrxtool with the given arguments; its error output goes to `lastError_`.
  int Run(const std::string& arguments) {
    // Standard output is dropped inside the group, so only the errors reach the pipe.
    test::CommandResult result = test::RunCommand("{ " + std::string(REEL_QRXTOOL_PATH) + " " + arguments + " >/dev/null; }");
    lastError_ = std::move(result.output);
    return result.status;
  }

  // code-jpeg's frame against the frame coded from libjpeg's coefficients of the same JPEG.
  void ExpectFrameOfLibjpegCoefficients(const std::vector<uint8_t>& jpeg, int quality) {
    ASSERT_TRUE(test::WriteAllBytes(Path("in.jpg"), jpeg));
    ASSERT_EQ(Run("code-jpeg " + Path("in.jpg") + " " + Path("out.jbp1") + " --quality " + std::to_string(quality)), 0)
        << lastError_;
    const std::optional<CoefficientSet> coefficients = test::ReadWithLibjpeg(jpeg);
    ASSERT_TRUE(coefficients.has_value());
    const auto expected = CodeCoefficients(*coefficients, quality);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(test::ReadAllBytes(Path("out.jbp1")), *expected);
  }

  test::ScratchFolder folder_{"qrxtool-coding"};
  std::string lastError_;
};

TEST_F(QrxtoolCoding, CodeJpegGivesTheFrameOfTheJpegsCoefficients) {
  for (const auto& [width, height, quality, restart] :
       {std::tuple{320, 240, 50, 0}, std::tuple{318, 218, 85, 0}, std::tuple{200, 100, 20, 7}, std::tuple{16, 16, 100, 1}, std::tuple{24, 8, 50, 0}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    test::TestJpegOptions options;
    options.width = width;
    options.height = height;
    options.quality = quality;
    options.restartInterval = restart;
    ExpectFrameOfLibjpegCoefficients(test::MakeTestJpeg(options, test::NaturalRgb(width, height, 21)), quality);
  }
  if (!test::HaveSharedMediaFolder()) {
    GTEST_SKIP() << "shared media folder not found: " << test::SharedMediaPath("");
  }
  for (const char* name : {"jpeg_420_227x149_testorig.jpg", "jpeg_420_dri10_150x150.jpg", "jpeg_camera_420_800x532.jpg"}) {
    SCOPED_TRACE(name);
    ExpectFrameOfLibjpegCoefficients(test::ReadAllBytes(test::SharedMediaPath(name)), 50);
  }
}

TEST_F(QrxtoolCoding, CodeJpegRefusesJpegsTheFrameCannotHold) {
  const std::vector<uint8_t> rgb = test::NaturalRgb(64, 48, 2);
  test::TestJpegOptions sampled444;
  sampled444.width = 64;
  sampled444.height = 48;
  sampled444.sampling = test::Sampling::k444;
  test::TestJpegOptions sampled422 = sampled444;
  sampled422.sampling = test::Sampling::k422;
  test::TestJpegOptions progressive = sampled444;
  progressive.sampling = test::Sampling::k420;
  progressive.progressive = true;
  test::TestJpegOptions good = progressive;
  good.progressive = false;
  const std::vector<uint8_t> goodJpeg = test::MakeTestJpeg(good, rgb);
  // The same stream with the components' quantisation tables swapped in the frame header.
  std::vector<uint8_t> swapped = goodJpeg;
  for (std::size_t i = 0; i + 19 < swapped.size(); ++i) {
    if (swapped[i] == 0xFF && swapped[i + 1] == 0xC0) {
      swapped[i + 12] = 1;  // Y: table 1
      swapped[i + 15] = 0;  // Cb: table 0
      break;
    }
  }
  const std::vector<std::vector<uint8_t>> refused = {
      test::MakeTestJpeg(sampled444, rgb), test::MakeTestJpeg(sampled422, rgb), test::MakeTestJpeg(progressive, rgb),
      swapped, std::vector<uint8_t>(goodJpeg.begin(), goodJpeg.begin() + static_cast<long>(goodJpeg.size() * 2 / 3)),
      {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'}};
  for (std::size_t i = 0; i < refused.size(); ++i) {
    ASSERT_TRUE(test::WriteAllBytes(Path("in.jpg"), refused[i]));
    EXPECT_EQ(Run("code-jpeg " + Path("in.jpg") + " " + Path("out.jbp1")), 1) << "case " << i;
    EXPECT_EQ(std::count(lastError_.begin(), lastError_.end(), '\n'), 1) << lastError_;
  }
  ASSERT_TRUE(test::WriteAllBytes(Path("in.jpg"), goodJpeg));
  EXPECT_EQ(Run("code-jpeg " + Path("in.jpg") + " " + Path("out.jbp1")), 0) << lastError_;
  EXPECT_EQ(Run("code-jpeg " + Path("in.jpg") + " " + Path("out.jbp1") + " --quality 0"), 2);
  EXPECT_EQ(Run("code-jpeg " + Path("in.jpg")), 2);
  EXPECT_EQ(Run("code-jpeg " + Path("missing.jpg") + " " + Path("out.jbp1")), 1);
}

TEST_F(QrxtoolCoding, CodePictureDecodesCloseToTheScaledSource) {
  const int width = 640;
  const int height = 480;
  const std::vector<uint8_t> rgb = test::NaturalRgb(width, height, 17);
  std::string ppm = "P6\n# natural test picture\n640 480\n255\n";
  ppm.append(rgb.begin(), rgb.end());
  ASSERT_TRUE(test::WriteAllBytes(Path("in.ppm"), ppm));
  ASSERT_EQ(Run("code-picture " + Path("in.ppm") + " " + Path("out.jbp1") + " --quality 50 --size 320x240"), 0)
      << lastError_;
  ASSERT_EQ(Run("decode-frame " + Path("out.jbp1") + " " + Path("out.ppm")), 0) << lastError_;
  const std::vector<uint8_t> decoded = test::ReadAllBytes(Path("out.ppm"));
  ASSERT_GT(decoded.size(), 320u * 240u * 3u);
  const std::span<const uint8_t> pixels = std::span(decoded).last(320u * 240u * 3u);

  // The reference: the same picture scaled, in top-down RGB. The scaler's first stored row is the
  // picture's top row.
  const std::optional<BmpImage> scaled = ScalePicture(test::BottomUpPicture(rgb, width, height), 320, 240);
  ASSERT_TRUE(scaled.has_value());
  std::vector<uint8_t> expected;
  for (uint32_t row = 0; row < 240; ++row) {
    const auto bytes = scaled->Row(row);
    for (uint32_t x = 0; x < 320; ++x) expected.insert(expected.end(), {bytes[x * 3 + 2], bytes[x * 3 + 1], bytes[x * 3]});
  }
  EXPECT_GT(test::Psnr(pixels, expected), 30.0);

  EXPECT_EQ(Run("code-picture " + Path("in.ppm") + " " + Path("out.jbp1")), 2);  // --quality is required
  EXPECT_EQ(Run("code-picture " + Path("in.ppm") + " " + Path("out.jbp1") + " --quality 50 --size 320"), 2);
  ASSERT_TRUE(test::WriteAllBytes(Path("bad.ppm"), std::string_view(ppm).substr(0, 40)));
  EXPECT_EQ(Run("code-picture " + Path("bad.ppm") + " " + Path("out.jbp1") + " --quality 50"), 1);
}

}  // namespace
}  // namespace reel
