#include "converter/cli/cli_options.h"

#include <charconv>
#include <map>

#include "converter/audio/mp3_encoder.h"

namespace reel {
namespace {

std::optional<int32_t> ParseInteger(const std::string& text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [next, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || next != end || text.empty()) return std::nullopt;
  return value;
}

// Looks `text` up among the accepted spellings of a list's entries.
std::optional<int32_t> Choice(const std::string& text, const std::map<std::string, int32_t>& spellings) {
  const auto found = spellings.find(text);
  if (found == spellings.end()) return std::nullopt;
  return found->second;
}

std::optional<int32_t> ParseBitRate(const std::string& text) {
  const auto& labels = BitRateLabels();
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const std::string& label = labels[i];
    if (text == label || text == label.substr(0, label.size() - 4)) return static_cast<int32_t>(i);
  }
  const auto index = ParseInteger(text);
  if (index && *index >= 0 && *index < static_cast<int32_t>(labels.size())) return index;
  return std::nullopt;
}

// Quality in percent, 100 down to 5 in steps of 5, as the list's index (0 = "100%").
std::optional<int32_t> ParseQuality(std::string text) {
  if (!text.empty() && text.back() == '%') text.pop_back();
  const auto percent = ParseInteger(text);
  if (!percent || *percent < 5 || *percent > 100 || *percent % 5 != 0) return std::nullopt;
  return (100 - *percent) / 5;
}

struct Parser {
  const std::vector<std::string>& arguments;
  std::size_t position = 0;
  std::string& error;

  std::optional<std::string> Value(const std::string& option) {
    if (position + 1 >= arguments.size()) {
      error = option + " needs a value";
      return std::nullopt;
    }
    return arguments[++position];
  }

  bool Set(int32_t& field, const std::string& option, std::optional<int32_t> parsed, const std::string& accepted) {
    if (!parsed) {
      error = option + ": expected " + accepted;
      return false;
    }
    field = *parsed;
    return true;
  }
};

}  // namespace

const std::vector<std::string>& BitRateLabels() {
  static const std::vector<std::string> labels = [] {
    std::vector<std::string> list;
    for (const uint32_t rate : kMp3BitRates) list.push_back(std::to_string(rate) + "/" + std::to_string(rate / 2) + "kbit");
    return list;
  }();
  return labels;
}

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments, const std::string& currentFolder,
                                          std::string& error) {
  CliOptions options;
  options.settings.outputFolder = currentFolder;
  JobSettings& s = options.settings;
  Parser parser{arguments, 0, error};
  bool optionsEnded = false;
  for (; parser.position < arguments.size(); ++parser.position) {
    const std::string& argument = arguments[parser.position];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      options.sources.push_back(argument);
      continue;
    }
    std::string option = argument;
    std::optional<std::string> inlineValue;
    if (const auto equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = option.substr(equals + 1);
      option.resize(equals);
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      return parser.Value(option);
    };
    const auto flag = [&]() {
      if (!inlineValue) return true;
      error = option + " takes no value";
      return false;
    };
    bool ok = true;
    if (option == "--") {
      optionsEnded = true;
    } else if (option == "-h" || option == "--help") {
      options.help = true;
    } else if (option == "-r" || option == "--frame-rate") {
      const auto text = value();
      ok = text && parser.Set(s.frameRateChoice, option,
                              Choice(*text, {{"standard", 0}, {"max", 1}, {"maximum", 1}, {"min", 2}, {"minimum", 2},
                                             {"0", 0}, {"1", 1}, {"2", 2}}),
                              "standard, max or min");
    } else if (option == "-s" || option == "--size") {
      const auto text = value();
      ok = text && parser.Set(s.pictureSizeChoice, option,
                              Choice(*text, {{"320x240", 0}, {"640x480", 1}, {"0", 0}, {"1", 1}}), "320x240 or 640x480");
    } else if (option == "-q" || option == "--quality") {
      const auto text = value();
      ok = text && parser.Set(s.pictureQuality, option, ParseQuality(*text), "a percentage from 100 down to 5 in steps of 5");
    } else if (option == "-b" || option == "--bitrate") {
      const auto text = value();
      ok = text && parser.Set(s.audioBitRateIndex, option, ParseBitRate(*text),
                              "an index 0-12 or a label such as 64/32kbit (see --help)");
    } else if (option == "--rate") {
      const auto text = value();
      ok = text && parser.Set(s.audioRateFlag, option,
                              Choice(*text, {{"22.05", 0}, {"22.05kHz", 0}, {"22050", 0}, {"44.1", 1}, {"44.10", 1},
                                             {"44.10kHz", 1}, {"44.1kHz", 1}, {"44100", 1}}),
                              "22.05 or 44.1");
    } else if (option == "--stereo") {
      ok = flag();
      s.stereoFlag = 1;
    } else if (option == "--mono") {
      ok = flag();
      s.stereoFlag = 0;
    } else if (option == "--force-media-framework") {
      ok = flag();
      s.forceDirectShow = 1;
    } else if (option == "--playback-mode") {
      const auto text = value();
      ok = text && parser.Set(s.playbackMode, option, Choice(*text, {{"frame", 0}, {"time", 1}, {"0", 0}, {"1", 1}}),
                              "frame or time");
    } else if (option == "--original-frame") {
      const auto text = value();
      ok = text && parser.Set(s.frameRateOverride, option,
                              Choice(*text, {{"auto", 0}, {"30", 1}, {"24", 2}, {"15", 3}}), "auto, 30, 24 or 15");
    } else if (option == "--encoder") {
      const auto text = value();
      ok = text && parser.Set(s.encoderChoice, option, Choice(*text, {{"mp3", 0}, {"ogg", 1}}), "mp3 or ogg");
    } else if (option == "-o" || option == "--output-dir") {
      const auto text = value();
      ok = text.has_value();
      if (ok && text->empty()) {
        error = option + " needs a folder";
        ok = false;
      }
      if (ok) {
        s.outputFolder = *text;
        while (s.outputFolder.size() > 1 && s.outputFolder.back() == '/') s.outputFolder.pop_back();
      }
    } else {
      error = "unknown option " + option;
      ok = false;
    }
    if (!ok) return std::nullopt;
  }
  if (!options.help && options.sources.empty()) {
    error = "no source file given";
    return std::nullopt;
  }
  return options;
}

std::string CliHelpText() {
  std::string labels;
  const auto& list = BitRateLabels();
  for (std::size_t i = 0; i < list.size(); ++i) {
    labels += "                     " + std::to_string(i) + ": " + list[i] + (i == 3 ? " (default)" : "") + "\n";
  }
  return "Usage: reelforge-cli [OPTIONS] SOURCE...\n"
         "\n"
         "Converts AVI and .mj motion-JPEG files into QRX movies, each with a companion MP3 file of\n"
         "the same name (clip.avi gives clip.qrx and clip.mp3) in the output folder. Several sources\n"
         "are converted one after another. Files appear only when complete; Ctrl-C stops the running\n"
         "job and leaves none of its files behind.\n"
         "\n"
         "Picture:\n"
         "  -r, --frame-rate standard|max|min\n"
         "                     movie frame rate: standard keeps at most 15 fps (halves faster\n"
         "                     sources), max keeps the source rate, min at most 10 fps (a third\n"
         "                     of faster sources). Default: standard\n"
         "  -s, --size 320x240|640x480\n"
         "                     the box the picture is fitted into, keeping its shape. Default: 320x240\n"
         "  -q, --quality PERCENT\n"
         "                     picture quality, 100 down to 5 in steps of 5. Default: 50\n"
         "\n"
         "Sound (MP3):\n"
         "  -b, --bitrate INDEX|LABEL\n"
         "                     stereo/mono bit rate, by index or label (\"64/32kbit\" or \"64/32\"):\n" +
         labels +
         "      --rate 22.05|44.1\n"
         "                     sample rate in kHz. Default: 22.05\n"
         "      --stereo, --mono   Default: stereo\n"
         "\n"
         "Other sources (not in this build; accepted so that scripts written for them run):\n"
         "      --force-media-framework   read the source through the media framework\n"
         "      --playback-mode frame|time   Default: frame\n"
         "      --original-frame auto|30|24|15   Default: auto\n"
         "      --encoder mp3|ogg   companion format for such sources. Default: mp3\n"
         "\n"
         "Output:\n"
         "  -o, --output-dir DIR  where the movie and its MP3 go. Default: the current folder\n"
         "  -h, --help           this text\n"
         "\n"
         "Progress is shown as a bar on a terminal and as plain lines otherwise; each job ends with a\n"
         "summary. Exit status: 0 when every job succeeded, 1 when one failed or was stopped, 2 for a\n"
         "usage error.\n"
         "\n"
         "Example:\n"
         "  reelforge-cli --quality 60 --output-dir ~/movies holiday.avi trip.mj\n";
}

}  // namespace reel
