// The format record, the per-user registry store and module loading.
#include <gtest/gtest.h>

#include <fstream>

#include "audio_test_support.h"
#include "modules/mp3enc/mpge_interface.h"
#include "platform/acm/wave_format.h"
#include "platform/module/loadable_module.h"
#include "platform/registry/user_registry.h"

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

TEST(UserRegistry, FindsValuesByKeyAndNameIgnoringCase) {
  const std::string store =
      "; a comment\n"
      "[Software\\Other]\n"
      "INSTPATH=/wrong\n"
      "[software\\marinecat\\gogo_dll]\r\n"
      "  instpath = /opt/enc/gogo.dll\r\n"
      "Other=x\n";
  EXPECT_EQ(FindRegistryString(store, "Software\\MarineCat\\GOGO_DLL", "INSTPATH"), "/opt/enc/gogo.dll");
  EXPECT_EQ(FindRegistryString(store, "Software\\Other", "instpath"), "/wrong");
  EXPECT_FALSE(FindRegistryString(store, "Software\\MarineCat\\GOGO_DLL", "Missing"));
  EXPECT_FALSE(FindRegistryString(store, "Software\\Nowhere", "INSTPATH"));
  EXPECT_FALSE(FindRegistryString("", "a", "b"));
  EXPECT_FALSE(FindRegistryString("[unterminated\nINSTPATH=x\n", "unterminated", "INSTPATH"));
}

TEST(UserRegistry, StoreLivesUnderTheConfigHome) {
  const test::ScopedRegistry registry("/some/where/gogo.dll");
  EXPECT_EQ(UserRegistryPath(), registry.ConfigHome() / "reelforge" / "registry.ini");
  EXPECT_EQ(ReadUserRegistryString("Software\\MarineCat\\GOGO_DLL", "INSTPATH"), "/some/where/gogo.dll");

  // A relative XDG_CONFIG_HOME is ignored, as the base-directory rules say.
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  const auto fallback = UserRegistryPath();
  ASSERT_TRUE(fallback);
  EXPECT_EQ(fallback->filename(), "registry.ini");
  EXPECT_NE(fallback->string().find(".config/reelforge"), std::string::npos);
}

TEST(LoadableModule, FindsEntryPointsAndRefusesWhatIsNotAModule) {
  const auto module = LoadableModule::Load(REEL_GOGO_PATH);
  ASSERT_TRUE(module);
  EXPECT_NE(module->Symbol("MPGE_processFrame"), nullptr);
  EXPECT_EQ(module->Symbol("NoSuchEntry"), nullptr);
  const auto version = module->Entry<MpgeGetVersion>("MPGE_getVersion");
  ASSERT_NE(version, nullptr);
  uint32_t number = 0;
  char text[8];
  EXPECT_EQ(version(&number, text, sizeof text), kMpgeOk);
  EXPECT_EQ(number, 100u);
  EXPECT_EQ(std::string(text).size(), 7u);  // cut to fit, still terminated

  const test::TempDir folder;
  test::WriteFile(folder.Path() / "fake.dll", {'n', 'o', 't', ' ', 'E', 'L', 'F'});
  EXPECT_FALSE(LoadableModule::Load((folder.Path() / "fake.dll").string()));
  EXPECT_FALSE(LoadableModule::Load((folder.Path() / "missing.dll").string()));
  EXPECT_FALSE(LoadableModule::Load(""));
}

}  // namespace
}  // namespace reel
