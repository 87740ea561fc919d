// The option table: each entry names its spellings, its value, its help text and what it sets.
// Choices are read as the dialog's list entries and become the job's enums here, at the edge.
#include "converter/cli/cli_options.h"

#include <charconv>
#include <functional>
#include <map>
#include <optional>
#include <span>

#include "common/option_parser.h"
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
  OptionSpec option;        // names, value, choices and help text
  Scope scope;
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

// A flag's setter: sets one field of the options to true.
template <typename Field>
Setter SetFlag(Field field) {
  return [field](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
    field(options) = true;
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

std::vector<std::string_view> BitRateChoices() {
  static const std::vector<std::string> labels = BitRateLabels();
  return {labels.begin(), labels.end()};
}

constexpr std::string_view kPicture = "Picture";
constexpr std::string_view kSound = "Sound (the companion file)";
constexpr std::string_view kOtherFiles = "Other video files (MPEG-1, MP4, MOV, MKV, WebM, Ogg, 3GP, FLV...)";
constexpr std::string_view kOutput = "Output";
constexpr std::string_view kSeveral = "Several sources";
constexpr std::string_view kProgram = "This program";

const std::vector<OptionEntry>& OptionTable() {
  static const std::string bitRateHelp = BitRateHelp();
  static const std::vector<OptionEntry> table = {
      {{kPicture, 'r', "frame-rate", "standard|max|min",
        "movie frame rate: standard keeps at most 15 fps (halves faster\n"
        "sources), max keeps the source rate, min at most 10 fps (a third\n"
        "of faster sources). Default: standard\n",
        {"standard", "max", "min"}},
       Scope::kJob,
       [](const std::string& text) {
         return Choice(text, {{"standard", 0}, {"max", 1}, {"maximum", 1}, {"min", 2}, {"minimum", 2},
                              {"0", 0}, {"1", 1}, {"2", 2}});
       },
       "standard, max or min", SetEnum<FrameRateChoice>(&JobSettings::frameRateChoice)},
      {{kPicture, 's', "size", "320x240|640x480", "the box the picture is fitted into, keeping its shape. Default: 320x240\n",
        {"320x240", "640x480"}},
       Scope::kJob,
       [](const std::string& text) { return Choice(text, {{"320x240", 0}, {"640x480", 1}, {"0", 0}, {"1", 1}}); },
       "320x240 or 640x480", SetEnum<PictureSizeChoice>(&JobSettings::pictureSizeChoice)},
      {{kPicture, 'q', "quality", "PERCENT", "picture quality, 100 down to 5 in steps of 5. Default: 50\n",
        {"100", "95", "90", "85", "80", "75", "70", "65", "60", "55", "50", "45", "40", "35", "30", "25", "20", "15",
         "10", "5"}},
       Scope::kJob, ParseQuality, "a percentage from 100 down to 5 in steps of 5", SetInt(&JobSettings::pictureQuality)},
      {{kSound, 'b', "bitrate", "INDEX|LABEL", bitRateHelp, BitRateChoices()}, Scope::kJob, ParseBitRate,
       "an index 0-12 or a label such as 64/32kbit (see --help)", SetInt(&JobSettings::audioBitRateIndex)},
      {{kSound, '\0', "rate", "22.05|44.1", "sample rate in kHz. Default: 22.05\n", {"22.05", "44.1"}},
       Scope::kJob,
       [](const std::string& text) {
         return Choice(text, {{"22.05", 0}, {"22.05kHz", 0}, {"22050", 0}, {"44.1", 1}, {"44.10", 1},
                              {"44.10kHz", 1}, {"44.1kHz", 1}, {"44100", 1}});
       },
       "22.05 or 44.1", SetEnum<AudioRate>(&JobSettings::audioRate)},
      {{kSound, '\0', "stereo", "", "two channels. Default\n", {}}, Scope::kJob, nullptr, "",
       [](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
         options.settings.channels = Channels::kStereo;
         return {};
       }},
      {{kSound, '\0', "mono", "", "one channel\n", {}}, Scope::kJob, nullptr, "",
       [](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
         options.settings.channels = Channels::kMono;
         return {};
       }},
      {{kOtherFiles, '\0', "force-media-framework", "",
        "read every source, AVI files too, through the media framework; the\n"
        "source's rate is then always measured (--original-frame is ignored)\n",
        {}},
       Scope::kJob, nullptr, "",
       [](CliOptions& options, int32_t, const std::string&, const std::string&) -> Status {
         options.settings.forceDirectShow = true;
         return {};
       }},
      {{kOtherFiles, '\0', "playback-mode", "frame|time",
        "how kept frames are taken: frame steps through the pictures and\n"
        "keeps pictures N, 2N, 3N, ...; time keeps the picture on screen at\n"
        "the times of frames 0, N, 2N, ..., as a player would show it.\n"
        "Default: frame\n",
        {"frame", "time"}},
       Scope::kJob,
       [](const std::string& text) { return Choice(text, {{"frame", 0}, {"time", 1}, {"0", 0}, {"1", 1}}); },
       "frame or time", SetEnum<PlaybackMode>(&JobSettings::playbackMode)},
      {{kOtherFiles, '\0', "original-frame", "auto|30|24|15",
        "take the source's rate as this instead of the measured one (not\n"
        "with --force-media-framework). Default: auto\n",
        {"auto", "30", "24", "15"}},
       Scope::kJob,
       [](const std::string& text) { return Choice(text, {{"auto", 0}, {"30", 1}, {"24", 2}, {"15", 3}}); },
       "auto, 30, 24 or 15", SetEnum<FrameRateOverride>(&JobSettings::frameRateOverride)},
      {{kOtherFiles, '\0', "encoder", "mp3|ogg",
        "companion format for such sources (AVI and .mj always give MP3);\n"
        "with ogg the three lowest bit rates share the lowest quality.\n"
        "Default: mp3\n",
        {"mp3", "ogg"}},
       Scope::kJob, [](const std::string& text) { return Choice(text, {{"mp3", 0}, {"ogg", 1}}); }, "mp3 or ogg",
       SetEnum<AudioEncoder>(&JobSettings::encoderChoice)},
      {{kSeveral, 'j', "jobs", "N",
        "convert up to N sources at once, each in a process of its own;\n"
        "every movie is the same as when converted alone. Default: the\n"
        "number of processors, but no more than one job for each 256 MiB\n"
        "of available memory (MemAvailable in /proc/meminfo), at least 1\n",
        {}},
       Scope::kRun, ParseJobCount, "a number of jobs, 1 or more",
       [](CliOptions& options, int32_t entry, const std::string&, const std::string&) -> Status {
         options.jobs = entry;
         return {};
       }},
      {{kSeveral, 'n', "no-overwrite", "",
        "skip a source whose movie is already in the output folder (a job's\n"
        "files appear only once all are complete, so the movie says its job\n"
        "finished); a rerun of an interrupted batch converts what is missing\n",
        {}},
       Scope::kRun, nullptr, "", SetFlag([](CliOptions& options) -> bool& { return options.noOverwrite; })},
      {{kSeveral, '\0', "progress", "auto|plain|json",
        "auto: a bar on a terminal, plain lines otherwise; plain: lines; json:\n"
        "one JSON object a line on standard output, {\"type\":\"progress\",...}\n"
        "while a source converts and {\"type\":\"result\",...} when it ends,\n"
        "with its files, their sizes and its warnings. Default: auto\n",
        {"auto", "plain", "json"}},
       Scope::kJob, [](const std::string& text) { return Choice(text, {{"auto", 0}, {"plain", 1}, {"json", 2}}); },
       "auto, plain or json",
       [](CliOptions& options, int32_t entry, const std::string&, const std::string&) -> Status {
         options.progress = static_cast<ProgressStyle>(entry);
         return {};
       }},
      {{kSeveral, '\0', "progress-fd", "FD",
        "for programs that run this one: instead of drawing progress, write\n"
        "a line \"DONE TOTAL\" (frames) to the open file descriptor FD\n"
        "whenever the counts change (with several jobs at once, the sums\n"
        "over the jobs started so far)\n",
        {}},
       Scope::kRun, ParseDescriptor, "an open file descriptor number",
       [](CliOptions& options, int32_t entry, const std::string&, const std::string&) -> Status {
         options.progressDescriptor = entry;
         return {};
       }},
      {{kOutput, 'o', "output-dir", "DIR", "where the movie and its companion go. Default: the current folder\n", {}},
       Scope::kJob, nullptr, "a folder",
       [](CliOptions& options, int32_t, const std::string& text, const std::string& option) -> Status {
         if (text.empty()) return MakeError(ErrorKind::kUsage, "", option + " needs a folder");
         std::string& folder = options.settings.outputFolder;
         folder = text;
         while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
         return {};
       }},
      {{kOutput, '\0', "output-beside-source", "",
        "put each movie and its companion in its source's folder (instead\n"
        "of the output folder)\n",
        {}},
       Scope::kJob, nullptr, "",
       SetFlag([](CliOptions& options) -> bool& { return options.outputBesideSource; })},
      {{kProgram, 'h', "help", "", "this text\n", {}}, Scope::kRun, nullptr, "",
       SetFlag([](CliOptions& options) -> bool& { return options.help; })},
      {{kProgram, '\0', "version", "", "the program's version\n", {}}, Scope::kRun, nullptr, "",
       SetFlag([](CliOptions& options) -> bool& { return options.version; })},
  };
  return table;
}

Error Usage(const std::string& what) { return MakeError(ErrorKind::kUsage, "", what); }

}  // namespace

const std::vector<OptionSpec>& CliOptionSpecs() {
  static const std::vector<OptionSpec> specs = [] {
    std::vector<OptionSpec> list;
    for (const OptionEntry& entry : OptionTable()) list.push_back(entry.option);
    return list;
  }();
  return specs;
}

Result<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments, const std::string& currentFolder) {
  CliOptions options;
  options.settings.outputFolder = currentFolder;
  Result<CommandLine> line = ParseCommandLine(CliOptionSpecs(), arguments);
  if (!line) return line.error();
  for (const ParsedOption& given : line->options) {
    const OptionEntry& entry = OptionTable()[given.option];
    int32_t choice = 0;
    if (entry.read) {
      const auto parsed = entry.read(given.value);
      if (!parsed) return Usage(given.spelling + ": expected " + entry.accepted);
      choice = *parsed;
    }
    if (Status set = entry.set(options, choice, given.value, given.spelling); !set) return set.error();
    if (entry.scope != Scope::kJob) continue;
    // Handed on in one spelling, whatever the user's was ("-q60", "-nq60", "--quality=60").
    options.jobArguments.push_back("--" + std::string(entry.option.longName));
    if (entry.option.TakesValue()) options.jobArguments.push_back(given.value);
  }
  options.sources = std::move(line->operands);
  if (!options.help && !options.version && options.sources.empty()) return Usage("no source file given");
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
  text += OptionHelpText(CliOptionSpecs(), kHelpColumn);
  return text +
         "\n"
         "Progress is shown as a bar that fits the terminal's width, and as plain lines when the output\n"
         "is not a terminal, TERM is dumb or the terminal is narrow; each job ends with a summary; with\n"
         "several jobs at once, one line per running job. Exit status: 0 when every job succeeded (or\n"
         "was skipped by --no-overwrite), 1 when one failed, 2 for a usage error, 128 + the signal's\n"
         "number when a signal stopped the run (130 for Ctrl-C, 143 for a termination request).\n"
         "\n"
         "Example:\n"
         "  reelforge-cli --quality 60 --output-dir ~/movies holiday.avi trip.mj\n"
         "  reelforge-cli --jobs 2 *.avi\n"
         "  reelforge-cli -n --output-beside-source --progress=json ~/videos/*.mp4\n";
}

}  // namespace reel
