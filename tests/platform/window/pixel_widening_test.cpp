// The player's table-driven 5-6-5 to 8-8-8 widening against the graphics library's own conversion,
// which a 5-6-5 texture would have shown: every one of the 65536 values, in one run.
#include "platform/window/pixel_widening.h"

#include <gtest/gtest.h>

#include <cstdint>
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
}

}  // namespace
}  // namespace reel
