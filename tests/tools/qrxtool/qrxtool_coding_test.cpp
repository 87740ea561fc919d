// qrxtool code-jpeg and code-picture, run as a user runs them. code-jpeg must give the frame the
// frame format defines for the JPEG's coefficients, taken here from libjpeg's own reading;
// code-picture's frame must decode to a picture close to the scaled source.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "converter/coder/frame_coder.h"
#include "converter/coder/picture_scaler.h"
#include "jpeg_test_support.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

class QrxtoolCoding : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(REEL_QRXTOOL_PATH).empty()) GTEST_SKIP() << "qrxtool is not part of this build";
    dir_ = fs::path(REEL_TEST_TMP_DIR) / ("qrxtool_coding_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void WriteFile(const std::string& name, std::span<const uint8_t> bytes) const {
    std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }

  // Exit status of qrxtool with the given arguments; its error output goes to `lastError_`.
  int Run(const std::string& arguments) {
    const std::string errors = Path("stderr.txt");
    const int status = std::system((std::string(REEL_QRXTOOL_PATH) + " " + arguments + " 2>" + errors).c_str());
    std::ifstream in(errors);
    lastError_.assign(std::istreambuf_iterator<char>(in), {});
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // code-jpeg's frame against the frame coded from libjpeg's coefficients of the same JPEG.
  void ExpectFrameOfLibjpegCoefficients(const std::vector<uint8_t>& jpeg, int quality) {
    WriteFile("in.jpg", jpeg);
    ASSERT_EQ(Run("code-jpeg " + Path("in.jpg") + " " + Path("out.jbp1") + " --quality " + std::to_string(quality)), 0)
        << lastError_;
    const std::optional<CoefficientSet> coefficients = test::ReadWithLibjpeg(jpeg);
    ASSERT_TRUE(coefficients.has_value());
    const auto expected = CodeCoefficients(*coefficients, quality);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(test::ReadFileBytes(Path("out.jbp1")), *expected);
  }

  fs::path dir_;
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
  const fs::path media = REEL_SHARED_MEDIA_DIR;
  if (!fs::is_directory(media)) GTEST_SKIP() << "shared media folder not found: " << media;
  for (const char* name : {"jpeg_420_227x149_testorig.jpg", "jpeg_420_dri10_150x150.jpg", "jpeg_camera_420_800x532.jpg"}) {
    SCOPED_TRACE(name);
    ExpectFrameOfLibjpegCoefficients(test::ReadFileBytes((media / name).string()), 50);
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
    WriteFile("in.jpg", refused[i]);
    EXPECT_EQ(Run("code-jpeg " + Path("in.jpg") + " " + Path("out.jbp1")), 1) << "case " << i;
    EXPECT_EQ(std::count(lastError_.begin(), lastError_.end(), '\n'), 1) << lastError_;
  }
  WriteFile("in.jpg", goodJpeg);
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
  WriteFile("in.ppm", std::span(reinterpret_cast<const uint8_t*>(ppm.data()), ppm.size()));
  ASSERT_EQ(Run("code-picture " + Path("in.ppm") + " " + Path("out.jbp1") + " --quality 50 --size 320x240"), 0)
      << lastError_;
  ASSERT_EQ(Run("decode-frame " + Path("out.jbp1") + " " + Path("out.ppm")), 0) << lastError_;
  const std::vector<uint8_t> decoded = test::ReadFileBytes(Path("out.ppm"));
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
  WriteFile("bad.ppm", std::span(reinterpret_cast<const uint8_t*>(ppm.data()), 40));
  EXPECT_EQ(Run("code-picture " + Path("bad.ppm") + " " + Path("out.jbp1") + " --quality 50"), 1);
}

}  // namespace
}  // namespace reel
