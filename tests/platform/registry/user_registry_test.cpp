// The per-user registry store: finding values, and where the store lives.
#include <gtest/gtest.h>

#include "platform/registry/user_registry.h"
#include "tests/support/scoped_registry.h"

namespace reel {
namespace {

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

}  // namespace
}  // namespace reel
