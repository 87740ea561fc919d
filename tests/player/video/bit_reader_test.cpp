// The buffered bit reader against the plain one, call for call, over random streams and the bit
// streams of real frames, up to and past their ends. Every stream lies in a block of exactly its
// size, so a load outside it is caught by the address sanitizer.
#include "player/video/bit_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "player/video/frame_layout.h"
#include "tests/player/video/movie_files.h"

namespace reel {
namespace {

// Runs the same random calls on both readers until both are well past the end of the stream.
void ExpectSameReading(std::span<const uint8_t> stream, uint32_t seed) {
  // A copy in a heap block of exactly the stream's size: nothing lies after it.
  const auto exact = std::make_unique<uint8_t[]>(stream.size());
  std::copy(stream.begin(), stream.end(), exact.get());
  const std::span<const uint8_t> bytes(exact.get(), stream.size());
  BitReader fast(bytes);
  PlainBitReader plain(bytes);
  std::mt19937 random(seed);
  const uint64_t end = bytes.size() * 8 + 200;
  while (plain.Position() < end) {
    switch (random() % 4) {
      case 0:
        ASSERT_EQ(fast.Peek32(), plain.Peek32()) << "at bit " << plain.Position();
        break;
      case 1: {
        const auto bits = static_cast<uint32_t>(random() % 33);
        fast.Skip(bits);
        plain.Skip(bits);
        break;
      }
      case 2:
        ASSERT_EQ(fast.ReadBit(), plain.ReadBit()) << "at bit " << plain.Position();
        break;
      default: {
        const auto count = static_cast<uint32_t>(random() % 17);
        ASSERT_EQ(fast.ReadValue(count), plain.ReadValue(count)) << count << " bits at " << plain.Position();
      }
    }
    ASSERT_EQ(fast.Position(), plain.Position());
    ASSERT_EQ(fast.Overrun(), plain.Overrun());
  }
}

TEST(BitReaderTest, TheBufferedReaderReadsAsThePlainOneOnRandomStreams) {
  std::mt19937 random(11);
  for (uint32_t length = 0; length < 80; ++length) {
    for (uint32_t round = 0; round < 8; ++round) {
      std::vector<uint8_t> stream(length);
      for (uint8_t& byte : stream) byte = static_cast<uint8_t>(random());
      ExpectSameReading(stream, length * 8 + round);
    }
  }
}

TEST(BitReaderTest, TheBufferedReaderReadsAsThePlainOneOnRealFrames) {
  for (const auto& frame : test::CodedFrames(176, 144, 4)) {
    const std::optional<FrameLayout> layout = ReadFrameLayout(frame);
    ASSERT_TRUE(layout);
    for (uint32_t seed = 0; seed < 4; ++seed) {
      ExpectSameReading(layout->dcStream, seed);
      ExpectSameReading(layout->acStream, seed + 100);
    }
  }
}

TEST(BitReaderTest, ValuesComeMostSignificantBitFirstAndZerosPastTheEnd) {
  const std::vector<uint8_t> stream{0b1011'0001, 0xFF};
  BitReader reader(stream);
  EXPECT_EQ(reader.ReadValue(4), 0b1000u);  // bits 0..3 of byte 0, first bit highest
  EXPECT_EQ(reader.ReadBit(), 1u);
  EXPECT_EQ(reader.Peek32(), 0b111'1111'1101u);
  reader.Skip(11);
  EXPECT_FALSE(reader.Overrun());
  EXPECT_EQ(reader.ReadValue(16), 0u);
  EXPECT_TRUE(reader.Overrun());
}

}  // namespace
}  // namespace reel
