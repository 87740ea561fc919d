// The option table: each entry names its spellings, its value, its help text and what it sets.
// Choices are read as the dialog's list entries and become the job's enums here, at the edge.
#include "converter/cli/cli_options.h"

#include <charconv>
#include <functional>
#include <map>
#include <optional>
#include <span>

#include "converter/choices/job_choices.h"

namespace reel {
namespace {

std::optional<int32_t> ParseInteger(const std::string& text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [next, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || next != end || text.empty()) return std::nullopt;
  return value;
}

std::optional<int32_t> ParseJobCount(const std::string& text) {
  const auto count = ParseInteger(text);
  if (!count || *count < 1) return std::nullopt;
  return count;
}

// A descriptor above the three standard ones, which carry the program's own text.
std::optional<int32_t> ParseDescriptor(const std::string& text) {
  const auto descriptor = ParseInteger(text);
  if (!descriptor || *descriptor < 3) return std::nullopt;
  return descriptor;
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
  if (!percent) return std::nullopt;
  return QualityIndexForPercent(*percent);
}

// A value option's reading: the parsed entry, or none when `text` is not one the option accepts.
using ValueReader = std::function<std::optional<int32_t>(const std::string& text)>;
// What an option sets: from the entry its reader gave (0 for a flag) or, for --output-dir, the text.
// `option` is the spelling the user typed, for its error message.
using Setter =
    std::function<Status(CliOptions& options, int32_t entry, const std::string& text, const std::string& option)>;

// Whether an option is a job's setting (given again to each job run in a process of its own) or
// concerns the run as a whole.
enum class Scope { kJob, kRun };

struct OptionEntry {
  const char* section;   // the --help heading it is listed under
  Scope scope;
  const char* shortName;  // "" when there is none
  const char* longName;
  const char* valueName;  // "" for a flag
  const char* help;       // lines of the --help text, each ending in "\n"
  ValueReader read;       // none for a flag and for a free-text value
  const char* accepted;   // what the error message says the option takes
  Setter set;
};

template <typename Enum, typename Field>
Setter SetEnum(Field JobSettings::*field) {
  return [field](CliOptions& options, int32_t entry, const std::string&, const std::string&) -> Status {
    options.settings.*field = static_cast<Enum>(entry);
    return {};
  };
}

Setter SetInt(int32_t JobSettings::*field) {
  return [field](CliOptions& options, int32_t entry, const std::string&, const std::string&) -> Status {
    options.settings.*field = entry;
    return {};
  };
}

std::string BitRateHelp() {
  std::string text = "stereo/mono bit rate, by index or label (\"64/32kbit\" or \"64/32\"):\n";
  const auto& list = BitRateLabels();
  for (std::size_t i = 0; i < list.size(); ++i) {
    text += "  " + std::to_string(i) + ": " + list[i] + (i == kDefaultBitRateIndex ? " (default)" : "") + "\n";
  }
  return text;
}

const std::vector<OptionEntry>& OptionTable() {
  static const std::string bitRateHelp = BitRateHelp();
  static const std::vector<OptionEntry> table = {
      {"Picture", Scope::kJob, "-r", "--frame-rate", "standard|max|min",
       "movie frame rate: standard keeps at most 15 fps (halves faster\n"
       "sources), max keeps the source rate, min at most 10 fps (a third\n"
       "of faster sources). Default: standard\n",
       [](const std::string& text) {
         return Choice(text, {{"standard", 0}, {"max", 1}, {"maximum", 1}, {"min", 2}, {"minimum", 2},
                              {"0", 0}, {"1", 1}, {"2", 2}});
       },
       "standard, max or min", SetEnum<FrameRateChoice>(&JobSettings::frameRateChoice)},
      {"Picture", Scope::kJob, "-s", "--size", "320x240|640x480",
       "the box the picture is fitted into, keeping its shape. Default: 320x240\n",
       [](const std::string& text) { return Choice(text, {{"320x240", 0}, {"640x480", 1}, {"0", 0}, {"1", 1}}); },
       "320x240 or 640x480", SetEnum<PictureSizeChoice>(&JobSettings::pictureSizeChoice)},
      {"Picture", Scope::kJob, "-q", "--quality", "PERCENT", "picture quality, 100 down to 5 in steps of 5. Default: 50\n",
       ParseQuality, "a percentage from 100 down to 5 in steps of 5", SetInt(&JobSettings::pictureQuality)},
      {"Sound (the companion file)", Scope::kJob, "-b", "--bitrate", "INDEX|LABEL", bitRateHelp.c_str(), ParseBitRate,
       "an index 0-12 or a label such as 64/32kbit (see --help)", SetInt(&JobSettings::audioBitRateIndex)},
      {"Sound (the companion file)", Scope::kJob, "", "--rate", "22.05|44.1", "sample rate in kHz. Default: 22.05\n",
       [](const std::string& text) {
         return Choice(text, {{"22.05", 0}, {"22.05kHz", 0}, {"22050", 0}, {"44.1", 1}, {"44.10", 1},
                              {"44.10kHz", 1}, {"44.1kHz", 1}, {"44100", 1}});
       },
       "22.05 or 44.1", SetEnum<AudioRate>(&JobSettings::audioRate)},
      {"Sound (the companion file)", Scope::kJob, "", "--stereo", "", "two channels. Default\n", nullptr, "",
       [](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
         options.settings.channels = Channels::kStereo;
         return {};
       }},
      {"Sound (the companion file)", Scope::kJob, "", "--mono", "", "one channel\n", nullptr, "",
       [](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
         options.settings.channels = Channels::kMono;
         return {};
       }},
      {"Other video files (MPEG-1, MP4, MOV, MKV, WebM, Ogg, 3GP, FLV...)", Scope::kJob, "",
       "--force-media-framework", "",
       "read every source, AVI files too, through the media framework; the\n"
       "source's rate is then always measured (--original-frame is ignored)\n", nullptr, "",
       [](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
         options.settings.forceDirectShow = true;
         return {};
       }},
      {"Other video files (MPEG-1, MP4, MOV, MKV, WebM, Ogg, 3GP, FLV...)", Scope::kJob, "", "--playback-mode",
       "frame|time",
       "how kept frames are taken: frame steps through the pictures and\n"
       "keeps pictures N, 2N, 3N, ...; time keeps the picture on screen at\n"
       "the times of frames 0, N, 2N, ..., as a player would show it.\n"
       "Default: frame\n",
       [](const std::string& text) { return Choice(text, {{"frame", 0}, {"time", 1}, {"0", 0}, {"1", 1}}); },
       "frame or time", SetEnum<PlaybackMode>(&JobSettings::playbackMode)},
      {"Other video files (MPEG-1, MP4, MOV, MKV, WebM, Ogg, 3GP, FLV...)", Scope::kJob, "", "--original-frame",
       "auto|30|24|15",
       "take the source's rate as this instead of the measured one (not\n"
       "with --force-media-framework). Default: auto\n",
       [](const std::string& text) { return Choice(text, {{"auto", 0}, {"30", 1}, {"24", 2}, {"15", 3}}); },
       "auto, 30, 24 or 15", SetEnum<FrameRateOverride>(&JobSettings::frameRateOverride)},
      {"Other video files (MPEG-1, MP4, MOV, MKV, WebM, Ogg, 3GP, FLV...)", Scope::kJob, "", "--encoder",
       "mp3|ogg",
       "companion format for such sources (AVI and .mj always give MP3);\n"
       "with ogg the three lowest bit rates share the lowest quality.\n"
       "Default: mp3\n",
       [](const std::string& text) { return Choice(text, {{"mp3", 0}, {"ogg", 1}}); }, "mp3 or ogg",
       SetEnum<AudioEncoder>(&JobSettings::encoderChoice)},
      {"Several sources", Scope::kRun, "-j", "--jobs", "N",
       "convert up to N sources at once, each in a process of its own;\n"
       "every movie is the same as when converted alone. Default: the\n"
       "number of processors, but no more than one job for each 256 MiB\n"
       "of available memory (MemAvailable in /proc/meminfo), at least 1\n",
       ParseJobCount, "a number of jobs, 1 or more",
       [](CliOptions& options, int32_t entry, const std::string&, const std::string&) -> Status {
         options.jobs = entry;
         return {};
       }},
      {"Several sources", Scope::kRun, "", "--progress-fd", "FD",
       "for programs that run this one: instead of drawing progress, write\n"
       "a line \"DONE TOTAL\" (frames) to the open file descriptor FD\n"
       "whenever the counts change (with several jobs at once, the sums\n"
       "over the jobs started so far)\n",
       ParseDescriptor, "an open file descriptor number",
       [](CliOptions& options, int32_t entry, const std::string&, const std::string&) -> Status {
         options.progressDescriptor = entry;
         return {};
       }},
      {"Output", Scope::kJob, "-o", "--output-dir", "DIR", "where the movie and its companion go. Default: the current folder\n", nullptr,
       "a folder",
       [](CliOptions& options, int32_t, const std::string& text, const std::string& option) -> Status {
         if (text.empty()) return MakeError(ErrorKind::kUsage, "", option + " needs a folder");
         std::string& folder = options.settings.outputFolder;
         folder = text;
         while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
         return {};
       }},
      {"Output", Scope::kRun, "-h", "--help", "", "this text\n", nullptr, "",
       [](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
         options.help = true;
         return {};
       }},
  };
  return table;
}

const OptionEntry* FindOption(const std::string& name) {
  for (const OptionEntry& entry : OptionTable()) {
    if (name == entry.longName || (entry.shortName[0] != '\0' && name == entry.shortName)) return &entry;
  }
  return nullptr;
}

Error Usage(const std::string& what) { return MakeError(ErrorKind::kUsage, "", what); }

}  // namespace

Result<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments, const std::string& currentFolder) {
  CliOptions options;
  options.settings.outputFolder = currentFolder;
  bool optionsEnded = false;
  for (std::size_t position = 0; position < arguments.size(); ++position) {
    const std::string& argument = arguments[position];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      options.sources.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    std::string option = argument;
    std::optional<std::string> inlineValue;
    if (const auto equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = option.substr(equals + 1);
      option.resize(equals);
    }
    const OptionEntry* entry = FindOption(option);
    if (entry == nullptr) return Usage("unknown option " + option);
    const bool takesValue = entry->valueName[0] != '\0';
    if (!takesValue && inlineValue) return Usage(option + " takes no value");
    if (entry->scope == Scope::kJob) options.jobArguments.push_back(argument);
    std::string text;
    if (takesValue) {
      if (inlineValue) {
        text = *inlineValue;
      } else if (position + 1 < arguments.size()) {
        text = arguments[++position];
        if (entry->scope == Scope::kJob) options.jobArguments.push_back(text);
      } else {
        return Usage(option + " needs a value");
      }
    }
    int32_t choice = 0;
    if (entry->read) {
      const auto parsed = entry->read(text);
      if (!parsed) return Usage(option + ": expected " + entry->accepted);
      choice = *parsed;
    }
    if (Status set = entry->set(options, choice, text, option); !set) return set.error();
  }
  if (!options.help && options.sources.empty()) return Usage("no source file given");
  return options;
}

std::string CliHelpText() {
  constexpr std::size_t kHelpColumn = 21;
  std::string text =
      "Usage: reelforge-cli [OPTIONS] SOURCE...\n"
      "\n"
      "Converts video files (AVI, .mj motion-JPEG, and whatever the media framework reads: MPEG-1,\n"
      "MP4, MOV, MKV, WebM, Ogg, 3GP, FLV) into QRX movies, each with a companion MP3 or Ogg file\n"
      "of the same name (clip.avi gives clip.qrx and clip.mp3) in the output folder. Several sources\n"
      "are converted side by side (see --jobs). A job's files appear together, and only once all of\n"
      "them are complete; Ctrl-C or a termination signal stops the running jobs and leaves none of\n"
      "their files behind (older files of the same names stay as they were).\n";
  std::string section;
  for (const OptionEntry& entry : OptionTable()) {
    if (section != entry.section) {
      section = entry.section;
      text += "\n" + section + ":\n";
    }
    std::string line = entry.shortName[0] != '\0' ? std::string("  ") + entry.shortName + ", " : std::string("      ");
    line += entry.longName;
    if (entry.valueName[0] != '\0') line += std::string(" ") + entry.valueName;
    text += line + "\n";
    std::string_view help = entry.help;
    while (!help.empty()) {
      const auto end = help.find('\n');
      text += std::string(kHelpColumn, ' ') + std::string(help.substr(0, end)) + "\n";
      help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
    }
  }
  return text +
         "\n"
         "Progress is shown as a bar on a terminal and as plain lines otherwise; each job ends with a\n"
         "summary; with several jobs at once, one line per running job. Exit status: 0 when every job\n"
         "succeeded, 1 when one failed, 2 for a usage error, 128 + the signal's number when a signal\n"
         "stopped the run (130 for Ctrl-C, 143 for a termination request).\n"
         "\n"
         "Example:\n"
         "  reelforge-cli --quality 60 --output-dir ~/movies holiday.avi trip.mj\n"
         "  reelforge-cli --jobs 2 *.avi\n";
}

}  // namespace reel
