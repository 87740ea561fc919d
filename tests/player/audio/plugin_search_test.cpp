// Run from beside Lodestar.ovl: the plug-in is found by its bare name, as the player finds it.
#include <gtest/gtest.h>

#include "player/audio/mp3_plugin.h"

namespace reel {
namespace {

TEST(Mp3PluginSearchTest, FoundByNameBesideTheProgram) {
  Mp3Plugin plugin;
  ASSERT_NE(plugin.Entries(), nullptr);
  EXPECT_NE(plugin.Entries()->decode, nullptr);
}

}  // namespace
}  // namespace reel
