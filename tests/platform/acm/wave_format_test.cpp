// The format record: its packed little-endian bytes, short records and codec data.
#include <gtest/gtest.h>

#include "platform/acm/wave_format.h"

namespace reel {
namespace {

TEST(WaveFormat, PackedBytesRoundTripLittleEndian) {
  WAVEFORMATEX format = PcmWaveFormat(22050, 2, 16);
  format.extraSize = 16;
  const std::vector<uint8_t> bytes = WaveFormatBytes(format);
  const std::vector<uint8_t> expected = {0x01, 0x00, 0x02, 0x00, 0x22, 0x56, 0x00, 0x00, 0x88,
                                         0x58, 0x01, 0x00, 0x04, 0x00, 0x10, 0x00, 0x10, 0x00};
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(ReadWaveFormat(bytes), format);
}

TEST(WaveFormat, ShortRecordsAndCodecData) {
  std::vector<uint8_t> bytes = WaveFormatBytes(PcmWaveFormat(8000, 1, 8));
  bytes.resize(kWaveFormatShortSize);
  const auto shortForm = ReadWaveFormat(bytes);
  ASSERT_TRUE(shortForm);
  EXPECT_EQ(shortForm->extraSize, 0);
  bytes.resize(15);
  EXPECT_FALSE(ReadWaveFormat(bytes));

  WAVEFORMATEX adpcm = PcmWaveFormat(22050, 1, 4);
  adpcm.formatTag = kWaveFormatImaAdpcm;
  adpcm.extraSize = 4;
  std::vector<uint8_t> block = WaveFormatBytes(adpcm);
  block.insert(block.end(), {0xF9, 0x01});  // cut short: two of the four codec bytes
  const auto format = ReadAudioFormat(block);
  ASSERT_TRUE(format);
  EXPECT_EQ(format->wave, adpcm);
  EXPECT_EQ(format->extra, (std::vector<uint8_t>{0xF9, 0x01}));
}

}  // namespace
}  // namespace reel
