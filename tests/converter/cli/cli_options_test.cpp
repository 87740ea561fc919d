// reelforge-cli's options: the dialog's defaults, every setting, and usage errors.
#include "converter/cli/cli_options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/full_width.h"
#include "converter/cli/job_count.h"
#include "converter/cli/progress_display.h"
#include "converter/cli/source_outputs.h"

namespace reel {
namespace {

std::optional<CliOptions> Parse(std::vector<std::string> arguments, std::string* error = nullptr) {
  auto options = ParseCliOptions(arguments, "/current");
  if (!options) {
    EXPECT_EQ(options.kind(), ErrorKind::kUsage);
    if (error != nullptr) *error = options.error().message;
    return std::nullopt;
  }
  return std::move(*options);
}

TEST(CliOptionsTest, DefaultsAreTheDialogs) {
  const auto options = Parse({"clip.avi"});
  ASSERT_TRUE(options);
  const JobSettings& s = options->settings;
  EXPECT_EQ(s.outputFolder, "/current");
  EXPECT_EQ(s.frameRateChoice, FrameRateChoice::kStandard);
  EXPECT_EQ(s.pictureSizeChoice, PictureSizeChoice::k320x240);
  EXPECT_EQ(s.pictureQuality, 10);  // "50%"
  EXPECT_EQ(s.audioBitRateIndex, 3);
  EXPECT_EQ(s.audioRate, AudioRate::k22050);
  EXPECT_EQ(s.channels, Channels::kStereo);
  EXPECT_EQ(s.forceDirectShow, false);
  EXPECT_EQ(s.playbackMode, PlaybackMode::kFrameSync);
  EXPECT_EQ(s.frameRateOverride, FrameRateOverride::kAutomatic);
  EXPECT_EQ(s.encoderChoice, AudioEncoder::kMp3);
  EXPECT_EQ(options->sources, std::vector<std::string>{"clip.avi"});
}

TEST(CliOptionsTest, EverySettingHasItsOption) {
  const auto options = Parse({"--frame-rate", "min", "--size=640x480", "-q", "95%", "--bitrate", "128/64kbit", "--rate",
                              "44.1", "--mono", "--force-media-framework", "--playback-mode", "time",
                              "--original-frame", "24", "--encoder", "ogg", "-o", "/out/", "a.avi", "b.mj"});
  ASSERT_TRUE(options);
  const JobSettings& s = options->settings;
  EXPECT_EQ(s.frameRateChoice, FrameRateChoice::kLowest);
  EXPECT_EQ(s.pictureSizeChoice, PictureSizeChoice::k640x480);
  EXPECT_EQ(s.pictureQuality, 1);
  EXPECT_EQ(s.audioBitRateIndex, 7);
  EXPECT_EQ(s.audioRate, AudioRate::k44100);
  EXPECT_EQ(s.channels, Channels::kMono);
  EXPECT_EQ(s.forceDirectShow, true);
  EXPECT_EQ(s.playbackMode, PlaybackMode::kTimeSync);
  EXPECT_EQ(s.frameRateOverride, FrameRateOverride::k24);
  EXPECT_EQ(s.encoderChoice, AudioEncoder::kOgg);
  EXPECT_EQ(s.outputFolder, "/out");
  EXPECT_EQ(options->sources, (std::vector<std::string>{"a.avi", "b.mj"}));
}

TEST(CliOptionsTest, BitRateByIndexLabelOrShortLabel) {
  EXPECT_EQ(Parse({"-b", "0", "x"})->settings.audioBitRateIndex, 0);
  EXPECT_EQ(Parse({"-b", "12", "x"})->settings.audioBitRateIndex, 12);
  EXPECT_EQ(Parse({"-b", "16/8kbit", "x"})->settings.audioBitRateIndex, 0);
  EXPECT_EQ(Parse({"-b", "320/160", "x"})->settings.audioBitRateIndex, 12);
  EXPECT_EQ(BitRateLabels().size(), 13u);
  EXPECT_EQ(BitRateLabels()[3], "64/32kbit");
}

TEST(CliOptionsTest, QualityRunsFromOneHundredDownToFiveInStepsOfFive) {
  EXPECT_EQ(Parse({"-q", "100", "x"})->settings.pictureQuality, 0);
  EXPECT_EQ(Parse({"-q", "5", "x"})->settings.pictureQuality, 19);
  for (const char* bad : {"0", "3", "52", "105", "fifty", ""}) EXPECT_FALSE(Parse({"-q", bad, "x"})) << bad;
}

TEST(CliOptionsTest, UsageErrorsSayWhatIsWrong) {
  std::string error;
  EXPECT_FALSE(Parse({}, &error));
  EXPECT_EQ(error, "no source file given");
  EXPECT_FALSE(Parse({"--bogus", "x"}, &error));
  EXPECT_EQ(error, "unknown option --bogus");
  EXPECT_FALSE(Parse({"x", "--size"}, &error));
  EXPECT_EQ(error, "--size needs a value");
  EXPECT_FALSE(Parse({"--size", "800x600", "x"}, &error));
  EXPECT_NE(error.find("320x240 or 640x480"), std::string::npos);
  EXPECT_FALSE(Parse({"-b", "13", "x"}));
  EXPECT_FALSE(Parse({"--rate", "48", "x"}));
  EXPECT_FALSE(Parse({"--mono=yes", "x"}));
  EXPECT_FALSE(Parse({"-o", "", "x"}));
  EXPECT_TRUE(Parse({"--help"})->help);
  EXPECT_EQ(Parse({"--", "-odd.avi"})->sources, std::vector<std::string>{"-odd.avi"});
}

// --help is printed from the option table: every option it lists is one the parser takes, with
// the value it shows, and the spellings the scripts use are all listed.
TEST(CliOptionsTest, HelpListsExactlyTheOptionsTheParserTakes) {
  const std::string help = CliHelpText();
  std::istringstream lines(help);
  std::string line;
  int listed = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("  -", 0) != 0 && line.rfind("      --", 0) != 0) continue;
    std::istringstream words(line);
    std::string name;
    std::string value;
    words >> name;
    if (name.back() == ',') words >> name;  // "-r, --frame-rate": the long spelling
    words >> value;
    ++listed;
    std::vector<std::string> arguments{name};
    // A value such as "standard|max|min" offers its first choice; free-form values get examples.
    if (!value.empty()) {
      value = value.substr(0, value.find('|'));
      if (value == "PERCENT") value = "60";
      if (value == "INDEX") value = "3";
      if (value == "DIR") value = "/out";
      if (value == "N") value = "2";
      if (value == "FD") value = "3";
      arguments.push_back(value);
    }
    arguments.push_back("clip.avi");
    EXPECT_TRUE(Parse(arguments)) << line;
  }
  EXPECT_EQ(listed, 19);
  for (const char* name : {"--frame-rate", "--size", "--quality", "--bitrate", "--rate", "--stereo", "--mono",
                           "--force-media-framework", "--playback-mode", "--original-frame", "--encoder",
                           "--output-dir", "--help", "--jobs", "--progress-fd", "--no-overwrite", "--output-beside-source",
                           "--progress", "--version", "64/32kbit (default)",
                           "256 MiB"}) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
  }
}

// --jobs and --progress-fd concern the run; every other option given is a job's setting and is
// handed on, as given, to a job run in a process of its own.
TEST(CliOptionsTest, JobsAndTheArgumentsHandedToEachJob) {
  const auto options = Parse({"-j", "3", "--quality=60", "a.avi", "-o", "/out", "--jobs", "4", "--mono",
                              "--progress-fd", "5", "b.avi", "--", "-c.avi"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->jobs, 4);
  EXPECT_EQ(options->progressDescriptor, 5);
  EXPECT_EQ(options->jobArguments, (std::vector<std::string>{"--quality", "60", "--output-dir", "/out", "--mono"}));
  EXPECT_EQ(options->sources, (std::vector<std::string>{"a.avi", "b.avi", "-c.avi"}));
  EXPECT_EQ(Parse({"x"})->jobs, 0);  // decided by the machine

  std::string error;
  for (const char* bad : {"0", "-1", "two", "2x", "", "99999999999"}) {
    EXPECT_FALSE(Parse({"--jobs", bad, "x"}, &error)) << bad;
    EXPECT_EQ(error, "--jobs: expected a number of jobs, 1 or more") << bad;
  }
  EXPECT_FALSE(Parse({"x", "--jobs"}, &error));
  EXPECT_EQ(error, "--jobs needs a value");
  for (const char* bad : {"0", "1", "2", "-3", "fd"}) EXPECT_FALSE(Parse({"--progress-fd", bad, "x"})) << bad;
}

// Bundled short options, the run's choices, and where each source's files go.
TEST(CliOptionsTest, BundlesSkipsAndOutputFolders) {
  const auto options = Parse({"-nq60", "-s640x480", "--progress=json", "--output-beside-source", "/films/a.avi",
                              "b.avi", "/c.avi"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->noOverwrite);
  EXPECT_EQ(options->settings.pictureQuality, 8);
  EXPECT_EQ(options->settings.pictureSizeChoice, PictureSizeChoice::k640x480);
  EXPECT_EQ(options->progress, ProgressStyle::kJson);
  EXPECT_EQ(options->jobArguments, (std::vector<std::string>{"--quality", "60", "--size", "640x480", "--progress",
                                                             "json", "--output-beside-source"}));
  EXPECT_EQ(SettingsForSource(*options, "/films/a.avi").outputFolder, "/films");
  EXPECT_EQ(OutputNamesFor(*options, "b.avi").front(), "./b.qrx");
  EXPECT_EQ(OutputNamesFor(*options, "/c.avi").front(), "/c.qrx");
  EXPECT_EQ(OutputNamesFor(*Parse({"-o", "/out", "/films/a.avi"}), "/films/a.avi").front(), "/out/a.qrx");
  EXPECT_EQ(Parse({"--version"})->version, true);
  std::string error;
  EXPECT_FALSE(Parse({"--progress", "bar", "x"}, &error));
  EXPECT_EQ(error, "--progress: expected auto, plain or json");
}

TEST(JobCountTest, ProcessorsBoundedByMemoryAndAtLeastOne) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  EXPECT_EQ(DefaultJobCount(8, std::nullopt), 8);
  EXPECT_EQ(DefaultJobCount(8, 1024 * kMiB), 4);
  EXPECT_EQ(DefaultJobCount(2, 64 * 1024 * kMiB), 2);
  EXPECT_EQ(DefaultJobCount(8, 100 * kMiB), 1);
  EXPECT_EQ(DefaultJobCount(0, std::nullopt), 1);
  EXPECT_GE(MachineJobCount(), 1);

  EXPECT_EQ(ParseMemAvailable("MemTotal:       16000000 kB\nMemFree:  100 kB\nMemAvailable:    2097152 kB\n"),
            2048 * kMiB);
  EXPECT_EQ(ParseMemAvailable("MemTotal: 5 kB\n"), std::nullopt);
  EXPECT_EQ(ParseMemAvailable("XMemAvailable: 5 kB\n"), std::nullopt);
  EXPECT_EQ(ParseMemAvailable("MemAvailable: lots\n"), std::nullopt);
  EXPECT_EQ(ParseMemAvailable("MemAvailable: 99999999999999999999 kB\n"), std::nullopt);
}

TEST(ProgressDisplayTest, SeveralJobs) {
  EXPECT_EQ(ShortName("/films/holiday.avi", 24), "holiday.avi");
  EXPECT_EQ(ShortName("a-rather-long-name-for-a-clip.avi", 12), "a-rather-...");
  // "ééééé" is two bytes a character: the cut never splits one.
  EXPECT_EQ(ShortName("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 8), "\xc3\xa9\xc3\xa9...");

  BatchProgressDisplay plain(0, 3);
  plain.Add(0, "/in/one.avi");
  plain.Add(1, "/in/two.avi");
  EXPECT_EQ(plain.Update(0, 0, 10), "one.avi: 変換データ数：0 / 10 (0%)\n");
  EXPECT_EQ(plain.Update(1, 5, 10), "two.avi: 変換データ数：5 / 10 (50%)\n");
  EXPECT_EQ(plain.Update(1, 5, 10), "");
  EXPECT_EQ(plain.Draw(), "");
  EXPECT_EQ(plain.Clear(), "");

  BatchProgressDisplay terminal(80, 3);
  terminal.Add(0, "/in/one.avi");
  terminal.Add(1, "/in/two.avi");
  EXPECT_EQ(terminal.Update(0, 3, 12), "");
  const std::string drawn = terminal.Draw();
  EXPECT_EQ(drawn.substr(0, drawn.find('\x1b')), "0 of 3 sources done, 2 running");
  EXPECT_NE(drawn.find("one.avi                  [###.........] 変換データ数：3 / 12  25%"), std::string::npos) << drawn;
  EXPECT_EQ(terminal.Clear(), "\x1b[3A\r\x1b[J");
  terminal.Remove(0);
  EXPECT_EQ(terminal.Draw().substr(0, 30), "1 of 3 sources done, 1 running");
  EXPECT_EQ(terminal.Clear(), "\x1b[2A\r\x1b[J");
  EXPECT_EQ(terminal.Clear(), "");
}

// Lines fit the terminal (double-width characters count two) and never reach its last column.
TEST(ProgressDisplayTest, LinesFitTheTerminalsWidth) {
  const struct {
    int32_t columns;
    const char* line;  // nullptr: does not fit
  } bars[] = {
      {200, "[############............] 変換データ数：75 / 150  50%  15.0 fps  0:05 left"},
      {60, "[####....] 変換データ数：75 / 150  50%  15.0 fps  0:05 left"},
      {50, "[####.....] 変換データ数：75 / 150  50%  15.0 fps"},
      {40, "[####.....] 変換データ数：75 / 150  50%"},
      {35, "[####.....] 変換データ数：75 / 150"},
      {30, nullptr},
  };
  for (const auto& b : bars) {
    const auto line = FitProgressLine(75, 150, 5.0, b.columns);
    EXPECT_EQ(line.value_or("none"), b.line ? b.line : "none") << b.columns;
  }
  const std::string longJapanese = "/in/動画ファイルの名前が長い.avi";
  const struct {
    std::string source;
    int32_t columns;
    const char* line;
  } batch[] = {
      {"/in/holiday.avi", 80, "holiday.avi              [###.........] 変換データ数：3 / 12  25%"},
      {"/in/holiday.avi", 40, "holiday.avi   変換データ数：3 / 12  25%"},
      {longJapanese, 80, "動画ファイルの名前が...  [###.........] 変換データ数：3 / 12  25%"},
      {longJapanese, 60, "動画ファイルの...  [###.........] 変換データ数：3 / 12  25%"},
      {longJapanese, 40, "動画ファイ... 変換データ数：3 / 12  25%"},
      {longJapanese, 20, nullptr},
  };
  for (const auto& b : batch) {
    const auto line = FitBatchLine(b.source, 3, 12, b.columns);
    EXPECT_EQ(line.value_or("none"), b.line ? b.line : "none") << b.columns;
    if (line) {
      EXPECT_LT(Utf8TextColumns(*line), static_cast<std::size_t>(b.columns)) << *line;
    }
  }
  // Too narrow for a bar: plain lines, and the batch redraw draws nothing to climb back over.
  EXPECT_EQ(ProgressDisplay(30).Update(1, 10, 1.0), "変換データ数：1 / 10 (10%)\n");
  BatchProgressDisplay narrow(30, 2);
  narrow.Add(0, longJapanese);
  EXPECT_EQ(narrow.Draw(), "");
  EXPECT_EQ(narrow.Clear(), "");
}

TEST(ProgressDisplayTest, BarAndPlainLines) {
  EXPECT_EQ(ProgressCountText(3, 150), "変換データ数：3 / 150");
  EXPECT_EQ(ProgressCountText(0, 0), "変換データ数：0 / 0");
  const std::string bar = ProgressBarLine(75, 150, 5.0);
  EXPECT_EQ(bar, "[############............] 変換データ数：75 / 150  50%  15.0 fps  0:05 left");
  EXPECT_EQ(ProgressBarLine(0, 0, 0.0), "[........................] 変換データ数：0 / 0  0%");

  ProgressDisplay plain(0);
  EXPECT_EQ(plain.Update(0, 100, 0.0), "変換データ数：0 / 100 (0%)\n");
  EXPECT_EQ(plain.Update(5, 100, 0.1), "");  // still in the same tenth
  EXPECT_EQ(plain.Update(12, 100, 0.2), "変換データ数：12 / 100 (12%)\n");
  EXPECT_EQ(plain.Finish(), "");

  ProgressDisplay terminal(80);
  EXPECT_EQ(terminal.Update(1, 10, 1.0).substr(0, 2), "\r[");
  EXPECT_EQ(terminal.Finish(), "\r\x1b[K");
}

}  // namespace
}  // namespace reel
