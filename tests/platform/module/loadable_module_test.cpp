// Loading a module and finding its entry points; what is not a module is refused.
#include <gtest/gtest.h>

#include "modules/mp3enc/mpge_interface.h"
#include "platform/module/loadable_module.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

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

  const test::ScratchFolder folder;
  ASSERT_TRUE(test::WriteAllBytes(folder.Path() / "fake.dll", std::string_view("not ELF")));
  EXPECT_FALSE(LoadableModule::Load((folder.Path() / "fake.dll").string()));
  EXPECT_FALSE(LoadableModule::Load((folder.Path() / "missing.dll").string()));
  EXPECT_FALSE(LoadableModule::Load(""));
}

}  // namespace
}  // namespace reel
