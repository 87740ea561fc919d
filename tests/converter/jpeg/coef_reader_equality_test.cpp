// The table-driven Huffman decode against the linear search it replaced: the same outcome (blocks,
// block count, size, tables) on real JPEGs, on JPEGs made here at many qualities, sizes, samplings
// and restart intervals, and on damaged streams: flipped bytes, cuts, and markers where they do
// not belong.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "converter/jpeg/jpeg_coef_reader.h"
#include "tests/support/jpeg_pictures.h"
#include "tests/support/file_bytes.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

using Search = CJpegCoefReader::HuffmanSearch;
using test::Sampling;
using test::TestJpegOptions;

void ExpectSameOutcome(std::span<const uint8_t> jpeg, const std::string& what) {
  CByteSource fastSource(jpeg);
  CByteSource linearSource(jpeg);
  CJpegCoefReader fast(Search::Fast);
  CJpegCoefReader linear(Search::Linear);
  const Status fastResult = fast.Decode(fastSource);
  const Status linearResult = linear.Decode(linearSource);
  ASSERT_EQ(fastResult.ok(), linearResult.ok()) << what;
  if (!fastResult) {
    EXPECT_EQ(fastResult.kind(), linearResult.kind()) << what;
  }
  ASSERT_EQ(fast.BlockCount(), linear.BlockCount()) << what;
  EXPECT_EQ(fast.Width(), linear.Width()) << what;
  EXPECT_EQ(fast.Height(), linear.Height()) << what;
  EXPECT_EQ(fast.QuantTable(0), linear.QuantTable(0)) << what;
  EXPECT_EQ(fast.QuantTable(1), linear.QuantTable(1)) << what;
  for (int32_t i = 0; i < fast.BlockCount(); ++i) {
    ASSERT_EQ(fast.Blocks()[static_cast<std::size_t>(i)], linear.Blocks()[static_cast<std::size_t>(i)])
        << what << ": block " << i;
  }
}

std::vector<uint8_t> MakeJpeg(int width, int height, int quality, Sampling sampling, int restartInterval,
                              uint32_t seed) {
  TestJpegOptions options;
  options.width = width;
  options.height = height;
  options.quality = quality;
  options.sampling = sampling;
  options.restartInterval = restartInterval;
  return test::MakeTestJpeg(options, test::NaturalRgb(width, height, seed));
}

// Where the entropy-coded data starts: after the SOS segment.
std::size_t ScanDataStart(const std::vector<uint8_t>& jpeg) {
  for (std::size_t i = 0; i + 3 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i + 2 + ((std::size_t{jpeg[i + 2]} << 8) | jpeg[i + 3]);
  }
  return jpeg.size();
}

TEST(CoefReaderEquality, RealJpegs) {
  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "shared media folder absent";
  int read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(test::SharedMediaPath(""))) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("jpeg_", 0) != 0) continue;
    ExpectSameOutcome(test::ReadAllBytes(entry.path()), name);
    ++read;
  }
  EXPECT_GT(read, 0) << "no jpeg_* files in the shared media folder";
}

TEST(CoefReaderEquality, GeneratedJpegs) {
  uint32_t seed = 1;
  for (int quality : {1, 10, 25, 50, 75, 90, 95, 100}) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{8, 8}, {17, 9}, {160, 120}, {320, 240}, {333, 201}}) {
      for (Sampling sampling : {Sampling::k420, Sampling::k422, Sampling::k444}) {
        const int restart = seed % 3 == 0 ? static_cast<int>(seed % 7) + 1 : 0;
        ExpectSameOutcome(MakeJpeg(w, h, quality, sampling, restart, seed++),
                          "q" + std::to_string(quality) + " " + std::to_string(w) + "x" + std::to_string(h));
      }
    }
  }
  ExpectSameOutcome(MakeJpeg(1280, 720, 85, Sampling::k420, 0, 99), "1280x720");
}

TEST(CoefReaderEquality, DamagedStreams) {
  std::mt19937 random(5);
  for (int restart : {0, 2}) {
    const std::vector<uint8_t> jpeg = MakeJpeg(200, 136, 60, Sampling::k420, restart, 11);
    const std::size_t data = ScanDataStart(jpeg);
    ASSERT_LT(data, jpeg.size());
    const auto anywhere = [&](std::size_t from) {
      return std::uniform_int_distribution<std::size_t>(from, jpeg.size() - 1)(random);
    };
    for (int round = 0; round < 120; ++round) {
      std::vector<uint8_t> damaged = jpeg;
      const std::string what = "restart " + std::to_string(restart) + ", round " + std::to_string(round);
      switch (round % 6) {
        case 0:  // bytes flipped in the entropy-coded data
          for (int k = 0; k < 1 + round % 5; ++k) damaged[anywhere(data)] ^= static_cast<uint8_t>(1 + random() % 255);
          break;
        case 1:  // cut anywhere
          damaged.resize(anywhere(0));
          break;
        case 2:  // a marker where data should be: EOI, a restart marker out of turn, or fill bytes
          damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(anywhere(data)),
                         {uint8_t{0xFF}, static_cast<uint8_t>(round % 12 == 2 ? 0xD9 : 0xD0 + random() % 8)});
          break;
        case 3:  // 0xFF bytes dropped in, each now a marker prefix or stuffing
          for (int k = 0; k < 3; ++k) damaged[anywhere(data)] = 0xFF;
          break;
        case 4:  // random bytes anywhere, headers included
          for (int k = 0; k < 4; ++k) damaged[anywhere(0)] = static_cast<uint8_t>(random());
          break;
        default:  // a run of the data replaced by noise, then cut
          for (std::size_t k = anywhere(data), end = std::min(k + 300, damaged.size()); k < end; ++k) {
            damaged[k] = static_cast<uint8_t>(random());
          }
          damaged.resize(anywhere(data));
          break;
      }
      ExpectSameOutcome(damaged, what);
    }
  }
}

}  // namespace
}  // namespace reel
