// The audio output on real devices: with no sound device it falls back to the silent sink whose
// clock still runs; on SDL's dummy driver it plays, stops channels through the refill and closes.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <thread>
#include <vector>

#include "player/audio/audio_output.h"
#include "player/audio/mp3_plugin.h"
#include "tests/player/audio/audio_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using namespace std::chrono_literals;

TEST(AudioOutputDeviceTest, WithoutADeviceStillHasARunningClock) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  Mp3Plugin::SetModuleName(test::PluginPath());
  test::ScratchFolder folder;
  {
    std::vector<Error> reports;
    AudioOutput audio([&reports](const Error& error) { reports.push_back(error); });
    // Falls back to the silent sink, and says so.
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, ErrorKind::kDevice);
    ASSERT_TRUE(audio.OpenChannel(0, "missing.mp3", folder.Slash(), 100, false, true, false));
    std::this_thread::sleep_for(700ms);
    EXPECT_GT(audio.ChannelPosition(0), 100);
    audio.StopChannel(0);
    EXPECT_EQ(audio.ChannelPosition(0), -1);
    audio.CloseAudio();
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

TEST(AudioOutputDeviceTest, OnTheDummyDriverPlaysAndCloses) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  Mp3Plugin::SetModuleName(test::PluginPath());
  test::ScratchFolder folder;
  ASSERT_TRUE(test::MakeMp3(folder.Path(), "tone.mp3", 44100, 2, 0.5));
  AudioOutput audio;
  ASSERT_TRUE(audio.OpenChannel(0, "tone.mp3", folder.Slash(), 80, false, true, false));
  std::this_thread::sleep_for(900ms);
  // The MP3 ended after half a second; the channel plays on in silence and its clock runs on.
  // About 900 - 279 ms (three buffers play before the clock starts); a loaded machine may lag.
  const int32_t position = audio.ChannelPosition(0);
  EXPECT_GT(position, 0);
  EXPECT_LT(position, 1000);
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(audio.OpenChannel(0, "tone.mp3", folder.Slash(), 80, true, true, true));
  // The stop came from a refill, well before StopChannel's own two-second limit.
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
  audio.CloseAudio();
  EXPECT_GE(audio.ChannelPosition(0), 0);
  audio.StopChannel(0);  // after closing, the slot is freed here
  EXPECT_EQ(audio.ChannelPosition(0), -1);
}

}  // namespace
}  // namespace reel
