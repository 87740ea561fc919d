// "Lodestar.ovl" through its binary interface alone, as any client loads it: the five entry points,
// the handle's fields at their offsets, and a decode that stays inside the output area.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "modules/mp3dec/lodestar_interface.h"
#include "platform/module/loadable_module.h"

namespace reel {
namespace {

class LodestarDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadableModule::Load(REEL_LODESTAR_PATH);
    ASSERT_TRUE(module_) << REEL_LODESTAR_PATH;
    create_ = module_->Entry<LodestarCreate>(kLodestarCreateName);
    destroy_ = module_->Entry<LodestarDestroy>(kLodestarDestroyName);
    predecode_ = module_->Entry<LodestarPredecode>(kLodestarPredecodeName);
    decode_ = module_->Entry<LodestarDecode>(kLodestarDecodeName);
    ASSERT_TRUE(create_ && destroy_ && predecode_ && decode_);
  }

  std::optional<LoadableModule> module_;
  LodestarCreate create_ = nullptr;
  LodestarDestroy destroy_ = nullptr;
  LodestarPredecode predecode_ = nullptr;
  LodestarDecode decode_ = nullptr;
};

TEST_F(LodestarDecoderTest, ExportsTheVersionEntry) {
  const auto version = module_->Entry<LodestarGetDecoderVersion>(kLodestarGetDecoderVersionName);
  ASSERT_NE(version, nullptr);
  EXPECT_GT(version(), 0);
}

TEST_F(LodestarDecoderTest, HandleFieldsFollowTheFrameHeaders) {
  // MPEG-1 layer II at 384 kbit/s and 32 kHz: 144 * 384000 / 32000 = 1728 bytes, the longest
  // frame a header can announce.
  const uint8_t mpeg1Layer2[4] = {0xFF, 0xFD, 0xE8, 0x00};
  void* handle = create_(mpeg1Layer2);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(predecode_(handle, mpeg1Layer2), 0);
  EXPECT_EQ(LodestarFrameLength(handle), 1728u);
  EXPECT_EQ(LodestarBitRate(handle), 384u);
  EXPECT_EQ(LodestarSampleRate(handle), 32000u);
  EXPECT_EQ(LodestarChannels(handle), 2u);
  // A frame of another sample rate is not part of this stream.
  const uint8_t otherRate[4] = {0xFF, 0xFD, 0xE0, 0x00};
  EXPECT_NE(predecode_(handle, otherRate), 0);
  // Mono MPEG-2 layer III at 64 kbit/s and 22050 Hz: 72 * 64000 / 22050 = 208 bytes.
  const uint8_t mpeg2Mono[4] = {0xFF, 0xF3, 0x80, 0xC0};
  destroy_(handle);
  handle = create_(mpeg2Mono);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(LodestarChannels(handle), 1u);
  EXPECT_EQ(LodestarSampleRate(handle), 22050u);
  EXPECT_EQ(predecode_(handle, mpeg2Mono), 0);
  EXPECT_EQ(LodestarFrameLength(handle), 208u);
  destroy_(handle);
}

TEST_F(LodestarDecoderTest, NoFrameNoHandle) {
  const uint8_t notAFrame[4] = {0x49, 0x44, 0x33, 0x04};  // "ID3": a tag, not a frame
  EXPECT_EQ(create_(notAFrame), nullptr);
}

TEST_F(LodestarDecoderTest, ASilentFrameDecodesInsideTheOutputArea) {
  // MPEG-1 layer III, 128 kbit/s, 44100 Hz, stereo: 144 * 128000 / 44100 = 417 bytes. Side
  // information and data all zero: a frame of silence.
  std::vector<uint8_t> frame(417, 0);
  frame[0] = 0xFF;
  frame[1] = 0xFB;
  frame[2] = 0x90;
  frame[3] = 0x00;
  void* handle = create_(frame.data());
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(predecode_(handle, frame.data()), 0);
  ASSERT_EQ(LodestarFrameLength(handle), 417u);
  constexpr int16_t kCanary = 0x5A5A;
  // The area, and more behind it that must stay untouched.
  std::vector<int16_t> pcm(kLodestarPcmAreaBytes / 2 + 64, kCanary);
  const int32_t samples = decode_(handle, pcm.data(), frame.data());
  destroy_(handle);
  ASSERT_EQ(samples, 1152);  // one frame of layer III, per channel
  const auto written = static_cast<std::size_t>(samples) * 2;
  EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(written),
                          [](int16_t s) { return s == 0; }));
  EXPECT_TRUE(std::all_of(pcm.begin() + static_cast<std::ptrdiff_t>(kLodestarPcmAreaBytes / 2),
                          pcm.end(), [](int16_t s) { return s == kCanary; }));
}

}  // namespace
}  // namespace reel
