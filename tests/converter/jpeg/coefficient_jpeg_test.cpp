// JPEGs written from coefficients: libjpeg reads back exactly the coefficients and tables of a
// JPEG that libjpeg made, padding blocks of odd sizes included; pictures that cannot be baseline
// JPEGs are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/zigzag.h"
#include "converter/jpeg/coefficient_jpeg.h"
#include "tests/support/jpeg_pictures.h"

namespace reel {
namespace {

// A libjpeg JPEG's quantised coefficients and tables (natural order) as the writer takes them.
struct Quantised {
  std::vector<std::array<int16_t, 64>> blocks;
  QuantisedPicture picture;
};

Quantised FromSet(const CoefficientSet& set) {
  Quantised q;
  for (std::size_t i = 0; i < 64; ++i) {
    q.picture.lumaQuant[kZigZag[i]] = static_cast<uint8_t>(set.quantTables[0][i]);
    q.picture.chromaQuant[kZigZag[i]] = static_cast<uint8_t>(set.quantTables[1][i]);
  }
  for (std::size_t b = 0; b < set.blocks.size(); ++b) {
    const auto& table = b % 6 < 4 ? q.picture.lumaQuant : q.picture.chromaQuant;
    std::array<int16_t, 64> block{};
    for (std::size_t k = 0; k < 64; ++k) block[k] = static_cast<int16_t>(set.blocks[b][k] / table[k]);
    q.blocks.push_back(block);
  }
  q.picture.width = set.width;
  q.picture.height = set.height;
  q.picture.blocks = q.blocks;
  return q;
}

TEST(CoefficientJpeg, LibjpegReadsBackWhatLibjpegMade) {
  const struct {
    int width;
    int height;
    int quality;
  } cases[] = {{320, 240, 50}, {200, 100, 5}, {8, 8, 100}, {17, 33, 75}, {320, 180, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " q" + std::to_string(c.quality));
    const auto original = test::ReadWithLibjpeg(test::MakeTestJpeg(
        {.width = c.width, .height = c.height, .quality = c.quality},
        test::NaturalRgb(c.width, c.height, static_cast<uint32_t>(c.width))));
    ASSERT_TRUE(original);
    const Quantised quantised = FromSet(*original);
    const Result<std::vector<uint8_t>> jpeg = WriteCoefficientJpeg(quantised.picture);
    ASSERT_TRUE(jpeg) << jpeg.error().message;
    const auto back = test::ReadWithLibjpeg(*jpeg);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, original->width);
    EXPECT_EQ(back->height, original->height);
    EXPECT_EQ(back->quantTables, original->quantTables);
    EXPECT_EQ(back->blocks, original->blocks);
  }
}

TEST(CoefficientJpeg, RefusesWhatCannotBeABaselineJpeg) {
  const auto original = test::ReadWithLibjpeg(test::MakeTestJpeg({.width = 32, .height = 16}, test::NaturalRgb(32, 16, 1)));
  ASSERT_TRUE(original);
  const struct {
    const char* what;
    void (*spoil)(Quantised&);
  } cases[] = {
      {"a quantisation value of 0", [](Quantised& q) { q.picture.chromaQuant[63] = 0; }},
      {"a DC beyond 8-bit samples", [](Quantised& q) { q.blocks[5][0] = 1024; }},
      {"an AC beyond 10 bits", [](Quantised& q) { q.blocks[7][63] = -1024; }},
      {"a block missing", [](Quantised& q) { q.picture.blocks = std::span(q.blocks).first(q.blocks.size() - 1); }},
      {"no width", [](Quantised& q) { q.picture.width = 0; }},
      {"a width beyond the JPEG limit", [](Quantised& q) { q.picture.width = 70000; }},
  };
  for (const auto& c : cases) {
    Quantised quantised = FromSet(*original);
    c.spoil(quantised);
    const Result<std::vector<uint8_t>> jpeg = WriteCoefficientJpeg(quantised.picture);
    ASSERT_FALSE(jpeg) << c.what;
    EXPECT_TRUE(jpeg.error().Is(ErrorKind::kDamaged)) << c.what << ": " << jpeg.error().message;
  }
}

}  // namespace
}  // namespace reel
