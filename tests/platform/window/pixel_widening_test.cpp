// The player's 5-6-5 to 8-8-8 widening against the graphics library's own conversion, which a 5-6-5
// texture would have shown: every one of the 65536 values, in one run; and the eight-at-a-time
// widening against the tables over runs of every length around a vector's width, at every offset.
#include "platform/window/pixel_widening.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace reel {
namespace {

TEST(PixelWideningTest, MatchesTheLibrarysConversionForEveryPixelValue) {
  std::vector<uint16_t> every(65536);
  for (uint32_t value = 0; value < every.size(); ++value) every[value] = static_cast<uint16_t>(value);
  const std::vector<uint32_t> reference = LibraryWidened565(every);
  ASSERT_EQ(reference.size(), every.size());
  const std::optional<PixelWidener> widener = PixelWidener::FromLibrary();
  ASSERT_TRUE(widener.has_value());
  std::vector<uint32_t> widened(every.size());
  widener->Run(every, widened);
  for (uint32_t value = 0; value < every.size(); ++value) {
    ASSERT_EQ(widened[value], reference[value]) << "pixel 0x" << std::hex << value;
  }
  EXPECT_EQ((*widener)(0), 0u);
  EXPECT_EQ((*widener)(0xFFFF) & 0xFF00FF, 0xFF00FFu);  // full red and blue
  // The tables hold the widening the arithmetic gives, so the run above went the vector way.
  EXPECT_TRUE(widener->UsesArithmetic());
}

TEST(PixelWideningTest, RunsOfAnyLengthAndOffsetMatchTheTables) {
  const std::optional<PixelWidener> widener = PixelWidener::FromLibrary();
  ASSERT_TRUE(widener.has_value());
  std::mt19937 random(5);
  std::vector<uint16_t> pixels(64);
  for (uint16_t& pixel : pixels) pixel = static_cast<uint16_t>(random());
  for (std::size_t offset = 0; offset < 4; ++offset) {
    for (std::size_t length = 0; offset + length <= pixels.size(); ++length) {
      const std::span<const uint16_t> run(pixels.data() + offset, length);
      std::vector<uint32_t> fast(length + 1, 0xDEADBEEF);
      std::vector<uint32_t> plain(length + 1, 0xDEADBEEF);
      widener->Run(run, std::span(fast).first(length));
      widener->RunByTables(run, std::span(plain).first(length));
      ASSERT_EQ(fast, plain) << "offset " << offset << ", length " << length;
    }
  }
}

}  // namespace
}  // namespace reel
