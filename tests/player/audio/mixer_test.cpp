// The mixer and the audio output: volume scaling, clamping, the three rate paths, and the output's
// refill, position clock and slots driven through a device the test controls.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include "player/audio/audio_output.h"
#include "player/audio/mp3_plugin.h"
#include "player/audio/mp3_stream.h"
#include "player/audio/mixer.h"
#include "tests/player/audio/audio_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

TEST(MixerTest, VolumeHundredPassesSamplesAndFiftyHalvesTowardZero) {
  const std::vector<int16_t> pcm = {1, -1, 3, -3, 101, -101, 32767, -32768};
  std::vector<int16_t> full(pcm.size(), 0);
  MixInto(full, pcm, 100);
  EXPECT_EQ(full, pcm);
  std::vector<int16_t> half(pcm.size(), 0);
  MixInto(half, pcm, 50);
  EXPECT_EQ(half, (std::vector<int16_t>{0, 0, 1, -1, 50, -50, 16383, -16384}));
  std::vector<int16_t> silent(pcm.size(), 0);
  MixInto(silent, pcm, 0);
  EXPECT_EQ(silent, std::vector<int16_t>(pcm.size(), 0));
}

TEST(MixerTest, TwoLoudChannelsClampAtTheSixteenBitLimits) {
  std::vector<int16_t> buffer(4, 0);
  const std::vector<int16_t> loud = {30000, -30000, 20000, -5};
  MixInto(buffer, loud, 100);
  MixInto(buffer, loud, 100);
  EXPECT_EQ(buffer, (std::vector<int16_t>{32767, -32768, 32767, -10}));
}

TEST(ConversionTest, StereoAt22050IsCopied) {
  const std::vector<int16_t> source = {1, 2, 3, 4, 5, 6};
  std::vector<int16_t> out(6, 99);
  EXPECT_EQ(ConvertToOutput(source, 2, 22050, out), 3u);
  EXPECT_EQ(out, source);
}

TEST(ConversionTest, At44100PairsOfFramesAreAveragedHalfByHalf) {
  // Stereo: left of (3, 5) -> 1 + 2 = 3; right of (-3, -5) -> -1 + -2 = -3; (1, 1) -> 0 + 0.
  const std::vector<int16_t> stereo = {3, -3, 5, -5, 1, 32767, 1, 32767};
  std::vector<int16_t> out(4, 99);
  EXPECT_EQ(ConvertToOutput(stereo, 2, 44100, out), 2u);
  EXPECT_EQ(out, (std::vector<int16_t>{3, -3, 0, 32766}));
  // Mono: each pair of samples gives one frame on both sides.
  const std::vector<int16_t> mono = {7, 9, -32768, -32768};
  EXPECT_EQ(ConvertToOutput(mono, 1, 44100, out), 2u);
  EXPECT_EQ(out, (std::vector<int16_t>{3 + 4, 3 + 4, -32768, -32768}));
  // A lone last frame without a partner is dropped.
  const std::vector<int16_t> odd = {1, 1, 2, 2, 3, 3};
  EXPECT_EQ(ConvertToOutput(odd, 2, 44100, out), 1u);
}

TEST(ConversionTest, OtherRatesTakeOneSourceFramePerOutputFrame) {
  const std::vector<int16_t> mono = {10, -20, 30};
  std::vector<int16_t> out(6, 99);
  EXPECT_EQ(ConvertToOutput(mono, 1, 32000, out), 3u);
  EXPECT_EQ(out, (std::vector<int16_t>{10, 10, -20, -20, 30, 30}));
  const std::vector<int16_t> stereo = {1, 2, 3, 4};
  EXPECT_EQ(ConvertToOutput(stereo, 2, 48000, out), 2u);
  EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 4), stereo);
  // The output span limits the frames; an unknown channel count converts nothing.
  EXPECT_EQ(ConvertToOutput(mono, 1, 22050, std::span(out).first(2)), 1u);
  EXPECT_EQ(ConvertToOutput(mono, 3, 22050, out), 0u);
}

TEST(ConversionTest, RequestSizesUndoTheConversion) {
  EXPECT_EQ(SourceSamplesFor(2048, 2, 22050), 4096u);  // 8192 bytes
  EXPECT_EQ(SourceSamplesFor(2048, 1, 22050), 2048u);  // halved for mono
  EXPECT_EQ(SourceSamplesFor(2048, 2, 44100), 8192u);  // doubled at 44100 Hz
  EXPECT_EQ(SourceSamplesFor(2048, 1, 44100), 4096u);
  EXPECT_EQ(SourceSamplesFor(2048, 1, 32000), 2048u);
}

// A device whose buffers come back only when the test says so, with a position the test sets: the
// bytes heard, and the bytes handed over, which lie `held` bytes ahead.
class FakeDevice : public WaveOutDevice {
 public:
  struct Shared {
    std::map<std::size_t, std::span<const int16_t>> written;
    std::atomic<uint32_t> position{0};
    std::atomic<uint32_t> held{0};
    int writes = 0;
    bool closed = false;
    std::optional<Error> failure;
    bool paused = false;
  };
  FakeDevice(Shared& shared, DoneHandler onDone) : shared_(shared), onDone_(std::move(onDone)) {}
  void Write(std::size_t id, std::span<const int16_t> samples) override {
    shared_.written[id] = samples;
    ++shared_.writes;
  }
  uint32_t PositionBytes() const override { return shared_.position.load(); }
  uint32_t WrittenBytes() const override { return shared_.position.load() + shared_.held.load(); }
  void SetVolume(uint16_t, uint16_t) override {}
  void Pause(bool paused) override { shared_.paused = paused; }
  // Hands every buffer back at once, as the device's next pull would.
  void Flush(std::function<void()> atFlush) override {
    atFlush();
    for (std::size_t id = 0; id < AudioOutput::kBufferCount; ++id) onDone_(id);
  }
  bool Close() override { return shared_.closed = true; }
  void Shutdown() override { shared_.closed = true; }
  std::optional<Error> Failure() const override { return shared_.failure; }

 private:
  Shared& shared_;
  DoneHandler onDone_;
};

class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { Mp3Plugin::SetModuleName(test::PluginPath()); }

  std::unique_ptr<AudioOutput> MakeOutput(AudioOutput::ChannelMaker makeChannel = nullptr) {
    return std::make_unique<AudioOutput>(
        [this](uint32_t, WaveOutDevice::DoneHandler onDone) -> Result<std::unique_ptr<WaveOutDevice>> {
          return std::unique_ptr<WaveOutDevice>(std::make_unique<FakeDevice>(device_, std::move(onDone)));
        },
        [this](const Error& error) { reports_.push_back(error); }, std::move(makeChannel));
  }

  // Stops a channel while a helper thread plays the device's part, handing back buffer 3 again and
  // again, as the refill that frees a stopped channel comes from the device.
  static void StopWhileRefilling(AudioOutput& audio, int32_t index) {
    std::atomic<bool> stopped{false};
    std::thread refill([&] {
      while (!stopped.load()) {
        audio.OnBufferDone(3);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    audio.StopChannel(index);
    stopped = true;
    refill.join();
  }

  std::vector<int16_t> Written(std::size_t id) {
    const auto samples = device_.written.at(id);
    return {samples.begin(), samples.end()};
  }

  FakeDevice::Shared device_;
  std::vector<Error> reports_;
};

// A channel whose decoding throws on its second refill, as a broken decoder or a failed
// allocation below the device's callback would.
class ThrowingChannel : public SoundChannel {
 public:
  using SoundChannel::SoundChannel;
  void Refill() override {
    if (++refills_ == 2) throw std::runtime_error("the decoder broke");
    SoundChannel::Refill();
  }
  int refills_ = 0;
};

TEST_F(AudioOutputTest, AChannelThatThrowsPlaysSilenceKeepsItsClockAndIsReportedOnce) {
  test::ScratchFolder folder;
  std::shared_ptr<ThrowingChannel> thrower;
  auto audio = MakeOutput([&](const std::string& name, std::size_t bytes, uint32_t rate) {
    thrower = std::make_shared<ThrowingChannel>(name, bytes, rate);
    return thrower;
  });
  ASSERT_TRUE(audio->OpenChannel(0, "broken.mp3", folder.Slash(), 100, false, true, false));
  const int writesBefore = device_.writes;
  for (std::size_t id = 0; id < 4; ++id) audio->OnBufferDone(id);  // the second one throws
  for (std::size_t id = 0; id < 4; ++id) audio->OnBufferDone(id);
  EXPECT_EQ(device_.writes, writesBefore + 8);  // every buffer was queued again
  EXPECT_EQ(thrower->refills_, 2);              // a failed channel is not decoded again
  EXPECT_TRUE(thrower->Failed());
  EXPECT_EQ(Written(1), std::vector<int16_t>(4096, 0));
  device_.position += 88200;
  EXPECT_EQ(audio->ChannelPosition(0), 1000);  // the clock runs on
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].kind, ErrorKind::kDevice);
  EXPECT_NE(reports_[0].message.find("sound channel 0 (broken.mp3)"), std::string::npos);
  EXPECT_NE(reports_[0].message.find("the decoder broke"), std::string::npos);
}

TEST_F(AudioOutputTest, AFailureCaughtByTheDeviceIsReportedOnceOnTheNextPositionQuery) {
  auto audio = MakeOutput();
  EXPECT_EQ(audio->ChannelPosition(0), -1);
  EXPECT_TRUE(reports_.empty());
  device_.failure = MakeError(ErrorKind::kDevice, "sound device", "playing failed: boom");
  EXPECT_EQ(audio->ChannelPosition(0), -1);
  EXPECT_EQ(audio->ChannelPosition(0), -1);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].message, "sound device: playing failed: boom");
}

TEST_F(AudioOutputTest, ADeviceThatCannotBeOpenedIsReportedAndTheClockStillRuns) {
  std::vector<uint32_t> rates;
  AudioOutput audio(
      [&](uint32_t rate, WaveOutDevice::DoneHandler) -> Result<std::unique_ptr<WaveOutDevice>> {
        rates.push_back(rate);
        return MakeError(ErrorKind::kDevice, "sound device", "no such card");
      },
      [this](const Error& error) { reports_.push_back(error); });
  EXPECT_EQ(rates, (std::vector<uint32_t>{22050, 22050}));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].message, "sound device: no such card; playing without sound");
  audio.CloseAudio();
}

TEST_F(AudioOutputTest, StartsWithFourSilentBuffersQueued) {
  auto audio = MakeOutput();
  EXPECT_EQ(audio->BufferBytes(), 8192u);
  EXPECT_EQ(device_.writes, 4);
  for (std::size_t id = 0; id < 4; ++id) EXPECT_EQ(Written(id), std::vector<int16_t>(4096, 0));
}

TEST_F(AudioOutputTest, PositionIsZeroUntilTheFourthMixAndMinusOneForAFreeSlot) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  ASSERT_TRUE(test::MakeMp3(folder.Path(), "tone.mp3", 22050, 2, 2.0));
  auto audio = MakeOutput();
  EXPECT_EQ(audio->ChannelPosition(0), -1);
  EXPECT_EQ(audio->ChannelPosition(-1), -1);
  EXPECT_EQ(audio->ChannelPosition(64), -1);
  ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, false, false));
  EXPECT_EQ(audio->ChannelPosition(0), -1);  // opened but not playing
  audio->StartChannel(0, false);
  for (std::size_t id = 0; id < 3; ++id) {
    device_.position += 8192;
    audio->OnBufferDone(id);
    EXPECT_EQ(audio->ChannelPosition(0), 0) << "after mix " << id + 1;
  }
  device_.position = 24576;
  audio->OnBufferDone(3);  // the fourth mix takes the start of the clock
  EXPECT_EQ(audio->ChannelPosition(0), 0);
  device_.position = 24576 + 88200;  // one second of 22050 Hz stereo 16-bit
  EXPECT_EQ(audio->ChannelPosition(0), 1000);
  device_.position = 24576 + 88200 + 88;  // 0.9977 ms more: truncated
  EXPECT_EQ(audio->ChannelPosition(0), 1000);
  device_.position = 24576 + 88200 + 89;
  EXPECT_EQ(audio->ChannelPosition(0), 1001);
}

TEST_F(AudioOutputTest, PositionIsTheSoundHeardAndNeverGoesBackwards) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  ASSERT_TRUE(test::MakeMp3(folder.Path(), "tone.mp3", 22050, 2, 2.0));
  auto audio = MakeOutput();
  ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, true, false));
  device_.position = 20000;
  device_.held = 4096;  // one device chunk handed over but not yet heard
  for (std::size_t id = 0; id < 4; ++id) audio->OnBufferDone(id);  // starts at byte 24096
  EXPECT_EQ(audio->ChannelPosition(0), 0);
  device_.position = 24096 - 4;  // the channel's first sample not heard yet
  EXPECT_EQ(audio->ChannelPosition(0), 0);
  device_.position = 24096 + 88200;
  EXPECT_EQ(audio->ChannelPosition(0), 1000);
  device_.position = 24096 + 44100;  // a device that reports less than before
  EXPECT_EQ(audio->ChannelPosition(0), 1000);
  device_.position = 24096 + 88200 + 8820;
  EXPECT_EQ(audio->ChannelPosition(0), 1100);
  // A new channel counts from its own first sample.
  StopWhileRefilling(*audio, 0);
  ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, true, false));
  for (std::size_t id = 0; id < 4; ++id) audio->OnBufferDone(id);
  EXPECT_EQ(audio->ChannelPosition(0), 0);
  device_.position = device_.position + 4096 + 882;
  EXPECT_EQ(audio->ChannelPosition(0), 10);
}

TEST_F(AudioOutputTest, PositionRunsAcrossTheByteCounterWrap) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  ASSERT_TRUE(test::MakeMp3(folder.Path(), "tone.mp3", 22050, 2, 1.0));
  auto audio = MakeOutput();
  ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, true, false));
  device_.position = 0xFFFFFFFFu - 1000;
  for (std::size_t id = 0; id < 4; ++id) audio->OnBufferDone(id);
  device_.position = 88200 - 1001;  // one second later, past the wrap
  EXPECT_EQ(audio->ChannelPosition(0), 1000);
}

TEST_F(AudioOutputTest, RefillMixesTheDecodedSoundScaledByTheVolume) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  struct Case {
    const char* name;
    uint32_t rate;
    uint16_t channels;
  };
  for (const Case c : {Case{"m22.mp3", 22050, 1}, Case{"s44.mp3", 44100, 2},
                       Case{"m32.mp3", 32000, 1}, Case{"s22.mp3", 22050, 2}}) {
    SCOPED_TRACE(c.name);
    const auto path = test::MakeMp3(folder.Path(), c.name, c.rate, c.channels, 1.0,
                                    "-id3v2_version 0 -write_xing 0");
    ASSERT_TRUE(path);
    // The expected output: the stream's PCM in refill-sized pieces, converted, at volume 50.
    Mp3Stream stream;
    ASSERT_TRUE(stream.OpenFile(path->string()));
    std::vector<int16_t> expected;
    for (int refill = 0; refill < 3; ++refill) {
      std::vector<int16_t> source(SourceSamplesFor(2048, c.channels, c.rate));
      source.resize(stream.ReadPcm(source, false));
      std::vector<int16_t> converted(4096, 0);
      ConvertToOutput(source, c.channels, c.rate, converted);
      std::vector<int16_t> mixed(4096, 0);
      MixInto(mixed, converted, 50);
      expected.insert(expected.end(), mixed.begin(), mixed.end());
    }
    auto audio = MakeOutput();
    for (const bool wholeFile : {false, true}) {
      ASSERT_TRUE(audio->OpenChannel(0, c.name, folder.Slash(), 50, false, true, wholeFile));
      std::vector<int16_t> played;
      for (std::size_t id = 0; id < 3; ++id) {
        audio->OnBufferDone(id);
        const std::vector<int16_t> buffer = Written(id);
        played.insert(played.end(), buffer.begin(), buffer.end());
      }
      EXPECT_EQ(played, expected);
      StopWhileRefilling(*audio, 0);
    }
  }
}

// Pause reaches the device; a seek drops what the device holds, the next buffer plays the stream
// from the whole frame that holds the place, and the clock counts on from there.
TEST_F(AudioOutputTest, PauseReachesTheDeviceAndASeekPlaysAndCountsFromAWholeFrame) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  const auto path = test::MakeMp3(folder.Path(), "tone.mp3", 22050, 2, 3.0);
  ASSERT_TRUE(path);
  auto audio = MakeOutput();
  audio->Pause(true);
  EXPECT_TRUE(device_.paused);
  audio->Pause(false);
  EXPECT_FALSE(device_.paused);
  EXPECT_EQ(audio->SeekChannel(0, 1000), std::nullopt);  // nothing plays there
  ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, true, false));
  for (std::size_t id = 0; id < 4; ++id) audio->OnBufferDone(id);
  device_.position = device_.position + 88200;
  EXPECT_EQ(audio->ChannelPosition(0), 1000);
  for (const int32_t to : {1500, 200, 2900}) {
    SCOPED_TRACE(to);
    const std::optional<int32_t> landed = audio->SeekChannel(0, to);
    ASSERT_TRUE(landed);
    EXPECT_LE(*landed, to);
    EXPECT_GT(*landed, to - 27);  // within one 576-sample frame
    // The buffers were handed back in order; the first holds the stream from where it landed.
    Mp3Stream stream;
    ASSERT_TRUE(stream.OpenFile(path->string()));
    const uint64_t frame = stream.Seek(static_cast<uint64_t>(to) * 22050 / 1000);
    EXPECT_EQ(static_cast<int32_t>(frame * 1000 / 22050), *landed);
    std::vector<int16_t> expected(4096);
    expected.resize(stream.ReadPcm(expected, false));
    expected.resize(4096, 0);
    EXPECT_EQ(Written(0), expected);
    device_.position = device_.position + 8820;  // a tenth of a second heard since
    EXPECT_EQ(audio->ChannelPosition(0), *landed + 100);
  }
}

TEST_F(AudioOutputTest, StopChannelWaitsForTheRefillToFreeTheSlot) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  ASSERT_TRUE(test::MakeMp3(folder.Path(), "tone.mp3", 22050, 2, 1.0));
  auto audio = MakeOutput();
  ASSERT_TRUE(audio->OpenChannel(5, "tone.mp3", folder.Slash(), 100, true, true, false));
  const auto before = std::chrono::steady_clock::now();
  StopWhileRefilling(*audio, 5);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
  EXPECT_EQ(audio->ChannelPosition(5), -1);
  audio->OnBufferDone(1);
  EXPECT_EQ(Written(1), std::vector<int16_t>(4096, 0));  // nothing left to mix
}

TEST_F(AudioOutputTest, NamesAndVolumesOutOfRange) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  // Names of any length play (the name of a 60-character movie's sound passes 64 bytes).
  const std::string longName = std::string(200, 'a') + ".mp3";
  ASSERT_TRUE(test::MakeMp3(folder.Path(), "tone.mp3", 22050, 2, 1.0, "-id3v2_version 0"));
  ASSERT_TRUE(test::MakeMp3(folder.Path(), longName, 22050, 2, 1.0, "-id3v2_version 0"));
  auto audio = MakeOutput();
  ASSERT_TRUE(audio->OpenChannel(0, longName, folder.Slash(), 100, false, true, false));
  EXPECT_EQ(audio->ChannelPosition(0), 0);
  audio->OnBufferDone(0);
  EXPECT_NE(Written(0), std::vector<int16_t>(Written(0).size(), 0));  // the long-named file's sound
  StopWhileRefilling(*audio, 0);
  EXPECT_EQ(audio->OpenChannel(64, "tone.mp3", folder.Slash(), 100, false, true, false).kind(),
            ErrorKind::kUsage);
  ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, true, false));
  audio->SetChannelVolume(0, 101);  // ignored
  audio->SetChannelVolume(0, -1);   // ignored
  audio->OnBufferDone(0);
  std::vector<int16_t> full = Written(0);
  StopWhileRefilling(*audio, 0);
  ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, true, false));
  audio->SetChannelVolume(0, 0);
  audio->OnBufferDone(1);
  EXPECT_EQ(Written(1), std::vector<int16_t>(4096, 0));
  EXPECT_NE(full, std::vector<int16_t>(4096, 0));
}

TEST_F(AudioOutputTest, UnreadableMp3OrMissingPluginPlaysSilenceWithARunningClock) {
  test::ScratchFolder folder;
  ASSERT_TRUE(test::WriteAllBytes(folder.Path() / "junk.mp3", std::vector<uint8_t>(5000, 0x42)));
  auto audio = MakeOutput();
  for (const char* name : {"junk.mp3", "missing.mp3"}) {
    StopWhileRefilling(*audio, 0);
    ASSERT_TRUE(audio->OpenChannel(0, name, folder.Slash(), 100, true, true, true));
    for (std::size_t id = 0; id < 4; ++id) audio->OnBufferDone(id);
    device_.position += 88200;
    EXPECT_EQ(audio->ChannelPosition(0), 1000);
    EXPECT_EQ(Written(3), std::vector<int16_t>(4096, 0));
  }
  Mp3Plugin::SetModuleName("/nonexistent/Lodestar.ovl");
  if (test::FfmpegInstalled()) {
    ASSERT_TRUE(test::MakeMp3(folder.Path(), "tone.mp3", 22050, 2, 1.0));
    StopWhileRefilling(*audio, 0);
    ASSERT_TRUE(audio->OpenChannel(0, "tone.mp3", folder.Slash(), 100, false, true, false));
    audio->OnBufferDone(0);
    EXPECT_EQ(Written(0), std::vector<int16_t>(4096, 0));
  }
  Mp3Plugin::SetModuleName(test::PluginPath());
}

// A paused output holds its queue for good, so closing drops it instead of waiting for it to play.
TEST_F(AudioOutputTest, ClosingWhilePausedDoesNotWaitForTheQueue) {
  AudioOutput audio([](uint32_t rate, WaveOutDevice::DoneHandler onDone) -> Result<std::unique_ptr<WaveOutDevice>> {
    return OpenSilentWaveOut(rate, std::move(onDone));
  });
  audio.Pause(true);
  const auto before = std::chrono::steady_clock::now();
  audio.CloseAudio();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
}

TEST_F(AudioOutputTest, CloseAudioStopsRequeuingAndClosesTheDevice) {
  auto audio = MakeOutput();
  audio->CloseAudio();
  EXPECT_TRUE(device_.closed);
  const int writes = device_.writes;
  audio->OnBufferDone(0);  // a late "done" is not queued again
  EXPECT_EQ(device_.writes, writes);
}

}  // namespace
}  // namespace reel
