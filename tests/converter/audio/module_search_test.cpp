// Run from the folder that holds gogo.dll: the module is found by the normal library search, with
// no registry entry at all.
#include <gtest/gtest.h>

#include "audio_test_support.h"
#include "converter/audio/mp3_encoder.h"
#include "tests/support/mp3_decoding.h"
#include "tests/support/scoped_registry.h"

namespace reel {
namespace {

TEST(Mp3ModuleSearch, LoadsFromBesideTheProgramWithoutTheRegistry) {
  const test::ScopedRegistry emptyRegistry;
  Mp3EncoderLib encoder(64);
  EXPECT_TRUE(encoder.Loaded());
  EXPECT_EQ(encoder.Load(), kMp3LoadOk);
  const EncodedAudio mp3 = EncodeMp3(test::Tone16(22050, 2, 0.5), PcmWaveFormat(22050, 2, 16), {AudioEncoder::kMp3, 3, false, true});
  EXPECT_EQ(mp3.outcome, AudioOutcome::kEncoded);
  const auto decoded = test::DecodeMp3Bytes(mp3.bytes, test::Mp3Decoding::kGapless);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->complete);
  EXPECT_EQ(decoded->Frames(), 11025u);
}

}  // namespace
}  // namespace reel
