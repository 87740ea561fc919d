// qrxtool export end to end. A clip with a picture pattern, a white flash and a 1 kHz beep that
// both start at 1.000 s is made with the ffmpeg tool (as an AVI, as a ".mj" file of its JPEG
// frames and sound, or as a Matroska file for the media framework), converted with reelforge-cli
// and exported. Judged by independent readers: libjpeg reads each exported frame's coefficients
// and tables back and decodes it; ffprobe gives the container's time stamps; the ffmpeg tool
// decodes the exported file, whose flash and beep must agree within 10 ms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_io.h"
#include "common/qrx_format.h"
#include "common/zigzag.h"
#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "converter/engine/mj_file.h"
#include "player/video/frame_decoder.h"
#include "player/video/frame_entropy_decoder.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/jpeg_pictures.h"
#include "tests/support/scratch_folder.h"
#include "tools/qrxtool/movie_export.h"
#include "tools/qrxtool/movie_file.h"
#include "tools/qrxtool/picture_output.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

constexpr double kFlashSeconds = 1.0;
constexpr double kClipSeconds = 1.6;
constexpr int kSourceRate = 15;
constexpr double kInStep = 0.010;

enum class Source { kAvi, kMj, kMediaFramework };

struct ExportCase {
  const char* name;
  Source source;
  const char* size;  // reelforge-cli --size
  bool grey;
  int quality;
  const char* container;
  const char* soundOptions;  // more reelforge-cli options: rate, channels, encoder
  double sampleRate;         // the companion's
};

std::string Describe(const ::testing::TestParamInfo<ExportCase>& info) { return info.param.name; }

std::string Qrxtool(const std::string& arguments) { return test::ShellQuoted(std::string_view(QRXTOOL_PATH)) + " " + arguments; }

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> values;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-')) values.push_back(std::stod(line));
  }
  return values;
}

// ffprobe's time stamps (in seconds) of the decoded frames, or of the packets, of a file's first
// video or audio stream.
std::vector<double> Times(const std::filesystem::path& file, char stream, bool packets = false) {
  const std::string entries = packets ? "-show_packets -show_entries packet=pts_time" : "-show_frames -show_entries frame=best_effort_timestamp_time";
  return Numbers(test::RunCommand(std::string("ffprobe -v error -select_streams ") + stream + ":0 " + entries +
                                  " -of csv=p=0 " + test::ShellQuoted(file))
                     .output);
}

// The ffmpeg tool's decoding of a stream to raw bytes (grey pictures, or mono 16-bit samples).
std::vector<uint8_t> Decoded(const std::filesystem::path& file, const std::filesystem::path& raw, bool pictures) {
  const std::string format = pictures ? "-map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt gray"
                                      : "-map 0:a:0 -f s16le -ac 1";
  if (!test::RunFfmpegTool("-i " + test::ShellQuoted(file) + " " + format + " " + test::ShellQuoted(raw))) return {};
  return test::ReadAllBytes(raw);
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(LoadU16(std::span<const uint8_t>(bytes).subspan(2 * i).first<2>()));
  }
  return samples;
}

// A ".mj" file of the AVI's JPEG frames, each chunk with the frame's share of the sound.
bool WriteMjFromAvi(const std::filesystem::path& avi, const std::filesystem::path& mj, const test::ScratchFolder& folder) {
  const std::filesystem::path frames = folder.Path() / "mjframes";
  std::filesystem::create_directories(frames);
  if (!test::RunFfmpegTool("-i " + test::ShellQuoted(avi) + " -map 0:v -c:v copy -f image2 " +
                           test::ShellQuoted(frames / "%04d.jpg")) ||
      !test::RunFfmpegTool("-i " + test::ShellQuoted(avi) + " -map 0:a -f s16le " +
                           test::ShellQuoted(folder.Path() / "mj.pcm"))) {
    return false;
  }
  const std::vector<uint8_t> sound = test::ReadAllBytes(folder.Path() / "mj.pcm");
  constexpr uint32_t kBytesPerChunk = 22050 / kSourceRate * 4;  // stereo 16-bit
  std::vector<uint8_t> body;
  std::vector<uint32_t> starts;  // chunk start, picture start, for each chunk
  for (uint32_t e = 0;; ++e) {
    char name[16];
    std::snprintf(name, sizeof name, "%04u.jpg", e + 1);
    const std::vector<uint8_t> picture = test::ReadAllBytes(frames / name);
    if (picture.empty()) break;
    starts.push_back(static_cast<uint32_t>(body.size()));
    const std::size_t from = std::min<std::size_t>(sound.size(), std::size_t{e} * kBytesPerChunk);
    const std::size_t to = std::min<std::size_t>(sound.size(), from + kBytesPerChunk);
    body.insert(body.end(), sound.begin() + static_cast<std::ptrdiff_t>(from), sound.begin() + static_cast<std::ptrdiff_t>(to));
    starts.push_back(static_cast<uint32_t>(body.size()));
    body.insert(body.end(), picture.begin(), picture.end());
  }
  starts.push_back(static_cast<uint32_t>(body.size()));
  starts.push_back(static_cast<uint32_t>(body.size()));
  MjHeader header;
  header.width = 640;
  header.height = 480;
  header.channels = 2;
  header.sampleRate = 22050;
  header.rateNumerator = kSourceRate;
  header.rateDenominator = 1;
  header.indexEntries = static_cast<uint16_t>(starts.size() / 2);
  header.soundChunksPlusOne = header.indexEntries;
  header.baseOffset = kMjHeaderSize;
  header.indexOffset = static_cast<uint32_t>(kMjHeaderSize + body.size());
  std::vector<uint8_t> file = MjHeaderBytes(header);
  file.insert(file.end(), body.begin(), body.end());
  ByteWriter index(file);
  for (std::size_t i = 0; i < starts.size(); i += 2) {
    index.U32(starts[i]);
    index.U32(0);
    index.U32(starts[i + 1]);
    for (int k = 0; k < 3; ++k) index.U32(0);
  }
  return test::WriteAllBytes(mj, file);
}

std::filesystem::path MakeSource(const ExportCase& c, const test::ScratchFolder& folder) {
  const std::string seconds = std::to_string(kClipSeconds);
  const std::string flash = std::to_string(kFlashSeconds);
  const std::string pictures = "-f lavfi -i testsrc2=s=640x480:r=" + std::to_string(kSourceRate) + ":d=" + seconds;
  const std::string sound = " -f lavfi -i \"aevalsrc=0.5*sin(2*PI*1000*t)*gte(t\\," + flash + "):s=22050:d=" + seconds + "\"";
  const std::string filter = std::string(" -vf \"") + (c.grey ? "format=gray," : "") +
                             "drawbox=c=white:t=fill:enable='gte(t," + flash + ")',format=yuvj420p\"";
  const std::filesystem::path avi = folder.Path() / "clip.avi";
  const std::string toAvi = " -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 " + test::ShellQuoted(avi);
  switch (c.source) {
    case Source::kAvi:
      return test::RunFfmpegTool(pictures + sound + filter + toAvi) ? avi : std::filesystem::path();
    case Source::kMj: {
      const std::filesystem::path mj = folder.Path() / "source" / "clip.mj";
      std::filesystem::create_directories(mj.parent_path());
      return test::RunFfmpegTool(pictures + sound + filter + toAvi) && WriteMjFromAvi(avi, mj, folder) ? mj : std::filesystem::path();
    }
    case Source::kMediaFramework: {
      const std::filesystem::path mkv = folder.Path() / "clip.mkv";
      return test::RunFfmpegTool(pictures + sound + filter + " -c:v mpeg4 -q:v 2 -c:a pcm_s16le -ac 2 " +
                                 test::ShellQuoted(mkv))
                 ? mkv
                 : std::filesystem::path();
    }
  }
  return {};
}

// The index of the first sample of a beep, if any.
std::optional<std::size_t> BeepOnset(const std::vector<uint8_t>& bytes) {
  const std::vector<int16_t> samples = Samples(bytes);
  const auto onset = std::find_if(samples.begin(), samples.end(), [](int16_t s) { return std::abs(s) > 4000; });
  if (onset == samples.end()) return std::nullopt;
  return static_cast<std::size_t>(onset - samples.begin());
}

double MeanLevel(std::span<const uint8_t> bytes) {
  double sum = 0;
  for (const uint8_t b : bytes) sum += b;
  return bytes.empty() ? 0 : sum / static_cast<double>(bytes.size());
}

constexpr double kFlashLevel = 220;

// Every exported frame holds exactly the frame's coefficients and tables, and decodes to the
// frame's picture but for the two decoders' rounding and clamping. Returns the first frame of the
// flash as the movie shows it.
std::optional<std::size_t> ExpectFramesLossless(const MovieFile& movie, const std::filesystem::path& frames) {
  FrameDecoder decoder;
  std::optional<std::size_t> flash;
  double worstPsnr = 99;
  for (std::size_t k = 0; k < movie.index.size(); ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const std::vector<uint8_t> jpeg = test::ReadAllBytes(frames / FrameFileName(k));
    const auto theirs = test::ReadWithLibjpeg(jpeg);
    const auto ours = DecodeFrameCoefficients(*movie.FrameBytes(k));
    EXPECT_TRUE(theirs && ours && ours->hasTables);
    if (!theirs || !ours || !ours->hasTables) return flash;
    for (std::size_t i = 0; i < 64; ++i) {
      EXPECT_EQ(theirs->quantTables[0][i], ours->lumaQuant[kZigZag[i]]);
      EXPECT_EQ(theirs->quantTables[1][i], ours->chromaQuant[kZigZag[i]]);
    }
    EXPECT_EQ(theirs->blocks.size(), ours->blocks.size());
    std::size_t differing = 0;
    for (std::size_t b = 0; b < std::min(ours->blocks.size(), theirs->blocks.size()); ++b) {
      const auto& table = b % 6 < 4 ? ours->lumaQuant : ours->chromaQuant;
      for (std::size_t i = 0; i < 64; ++i) differing += theirs->blocks[b][i] != ours->blocks[b][i] * table[i];
    }
    EXPECT_EQ(differing, 0u);
    int width = 0;
    int height = 0;
    const std::vector<uint8_t> decoded = test::DecodeWithLibjpeg(jpeg, width, height, false);
    EXPECT_TRUE(DecodeMovieFrame(movie, k, decoder));
    const std::vector<uint8_t> frame = RgbOfPicture(decoder);
    EXPECT_EQ(decoded.size(), frame.size());
    if (decoded.size() != frame.size()) return flash;
    worstPsnr = std::min(worstPsnr, test::Psnr(decoded, frame));
    if (!flash && MeanLevel(frame) > kFlashLevel) flash = k;
  }
  std::cout << "[ decode ] libjpeg against qrxtool frame: lowest PSNR " << worstPsnr << " dB\n";
  EXPECT_GE(worstPsnr, 30.0);
  return flash;
}

class ExportTest : public ::testing::TestWithParam<ExportCase> {};

TEST_P(ExportTest, LosslessAndInStep) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const ExportCase& c = GetParam();
  test::ScratchFolder folder("export");
  const std::filesystem::path source = MakeSource(c, folder);
  ASSERT_FALSE(source.empty());
  const test::CommandResult converted =
      test::RunCommand(test::ShellQuoted(std::string_view(REELFORGE_CLI_PATH)) + " --size " + c.size + " --quality " +
          std::to_string(c.quality) + " " + c.soundOptions + " --output-dir " + test::ShellQuoted(folder.Path()) +
          " " + test::ShellQuoted(source));
  ASSERT_EQ(converted.status, 0) << converted.output;
  const std::filesystem::path movie = folder.Path() / "clip.qrx";
  const bool ogg = std::filesystem::exists(folder.Path() / "clip.ogg");
  const std::filesystem::path companion = folder.Path() / (ogg ? "clip.ogg" : "clip.mp3");
  const std::filesystem::path exported = folder.Path() / (std::string("out.") + c.container);
  const test::CommandResult toFile = test::RunCommand(Qrxtool("export " + test::ShellQuoted(movie) + " " + test::ShellQuoted(exported)));
  ASSERT_EQ(toFile.status, 0) << toFile.output;
  const test::CommandResult toFrames =
      test::RunCommand(Qrxtool("export " + test::ShellQuoted(movie) + " --frames " + test::ShellQuoted(folder.Path() / "frames")));
  ASSERT_EQ(toFrames.status, 0) << toFrames.output;

  // A range of frames: those frames' files and no others, the same bytes as the whole export's.
  const test::CommandResult toRange = test::RunCommand(
      Qrxtool("export " + test::ShellQuoted(movie) + " --frames " + test::ShellQuoted(folder.Path() / "range") + " --from 2 --count 3"));
  ASSERT_EQ(toRange.status, 0) << toRange.output;
  std::vector<std::string> names;
  for (const auto& file : std::filesystem::directory_iterator(folder.Path() / "range")) {
    names.push_back(file.path().filename().string());
    EXPECT_EQ(test::ReadAllBytes(file.path()), test::ReadAllBytes(folder.Path() / "frames" / names.back()));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame-00002.jpg", "frame-00003.jpg", "frame-00004.jpg"}));

  auto parsed = ParseMovie(test::ReadAllBytes(movie));
  ASSERT_TRUE(parsed);
  const std::optional<std::size_t> movieFlash = ExpectFramesLossless(*parsed, folder.Path() / "frames");
  ASSERT_TRUE(movieFlash.has_value());

  // The container's time stamps: every frame, at the movie's rate, and picture 0 where the
  // companion's sound is first heard: its first packet's place plus as much as ffprobe finds
  // between the companion's first packet and its first decoded sample (an MP3 encoder's delay read
  // by ffprobe itself, a Vorbis decoder's first packet).
  const std::vector<double> pictures = Times(exported, 'v');
  ASSERT_EQ(pictures.size(), parsed->index.size());
  EXPECT_NEAR(pictures[1] - pictures[0], 1.0 / parsed->header.frameRate, 0.001);
  const std::vector<double> soundPackets = Times(exported, 'a', true);
  const std::vector<double> soundStart = Times(exported, 'a');
  const std::vector<double> companionPackets = Times(companion, 'a', true);
  const std::vector<double> heardFrom = Times(companion, 'a');
  ASSERT_FALSE(soundPackets.empty() || soundStart.empty() || companionPackets.empty() || heardFrom.empty());
  const double stampGap = pictures[0] - (soundPackets[0] + heardFrom[0] - companionPackets[0]);
  EXPECT_LE(std::abs(stampGap), kInStep) << "picture 0 at " << pictures[0] << " s, sound from " << soundPackets[0] << " s";

  // The decoded file: the flash frame's time against the beep's onset, as far apart as they are
  // when the player plays the movie (the flash frame at its index over the rate, the beep at its
  // onset in the companion as decoded, delay left out).
  const std::vector<uint8_t> grey = Decoded(exported, folder.Path() / "pictures.raw", true);
  const std::size_t pictureBytes = grey.size() / pictures.size();
  ASSERT_GT(pictureBytes, 0u);
  std::optional<double> flash;
  for (std::size_t k = 0; k < pictures.size() && !flash; ++k) {
    if (MeanLevel(std::span(grey).subspan(k * pictureBytes, pictureBytes)) > kFlashLevel) flash = pictures[k];
  }
  const std::vector<uint8_t> exportedSound = Decoded(exported, folder.Path() / "sound.raw", false);
  const std::vector<uint8_t> companionSound = Decoded(companion, folder.Path() / "companion.raw", false);
  const auto onset = BeepOnset(exportedSound);
  const auto heardOnset = BeepOnset(companionSound);
  ASSERT_TRUE(flash && onset && heardOnset);

  // The sound ends where the companion's heard sound ends: the padding after it is left out, to
  // the sample in Matroska, to the packet elsewhere.
  const double leadDecoded = (heardFrom[0] - companionPackets[0]) - (soundStart[0] - soundPackets[0]);
  const double extra = static_cast<double>(exportedSound.size() / 2) - static_cast<double>(companionSound.size() / 2) -
                       leadDecoded * c.sampleRate;
  const double stampRounding = c.sampleRate / 1000;  // Matroska's time stamps are whole milliseconds
  EXPECT_GE(extra, -stampRounding);
  EXPECT_LE(extra, std::string_view(c.container) == "mkv" ? stampRounding : 1152.0);
  const double offset = soundStart[0] + static_cast<double>(*onset) / c.sampleRate - *flash;
  const double played = static_cast<double>(*heardOnset) / c.sampleRate -
                        static_cast<double>(*movieFlash) / parsed->header.frameRate;
  std::cout << "[ offset ] " << c.name << ": sound minus picture " << offset * 1000 << " ms exported, "
            << played * 1000 << " ms played; picture 0 by the time stamps " << stampGap * 1000 << " ms; "
            << extra << " samples of padding\n";
  EXPECT_LE(std::abs(offset - played), kInStep);
}

// Every source kind, both picture sizes, grey and colour, the lowest and highest quality, every
// container, both sample rates and channel counts, MP3 and Ogg companions.
const ExportCase kCases[] = {
    {"AviColour320Q5Mkv", Source::kAvi, "320x240", false, 5, "mkv", "", 22050},
    {"AviGrey640Q100Avi", Source::kAvi, "640x480", true, 100, "avi", "--rate 44.1 --mono", 44100},
    {"MjGrey320Q100Mp4", Source::kMj, "320x240", true, 100, "mp4", "", 22050},
    {"MjColour640Q5Avi", Source::kMj, "640x480", false, 5, "avi", "", 22050},
    {"MediaColour320Q100OggMkv", Source::kMediaFramework, "320x240", false, 100, "mkv", "--encoder ogg", 22050},
    {"MediaGrey640Q5Mp4", Source::kMediaFramework, "640x480", true, 5, "mp4", "--rate 44.1", 44100},
};

INSTANTIATE_TEST_SUITE_P(Sources, ExportTest, ::testing::ValuesIn(kCases), Describe);

// A movie of generated pictures, its bytes.
std::vector<uint8_t> SampleMovie(const std::string& path, uint32_t frames, uint32_t width, uint32_t height) {
  QrxOutput movie = CreateQrxFile(path);
  static_cast<void>(BeginQrx(movie, frames, 15, PictureSizeChoice::k320x240));
  SetQrxPictureSize(movie, width, height);
  for (uint32_t k = 0; k < frames; ++k) static_cast<void>(AppendQrxFrame(movie, *CodeCoefficients(MakeSampleCoefficients(width, height, 50, k), 50)));
  static_cast<void>(FinishQrx(movie));
  return test::ReadAllBytes(path);
}

// The movie with frame k no longer decodable (its DC stream length points past the frame),
// written to `path`.
void WriteDamaged(std::vector<uint8_t> bytes, std::size_t k, const std::filesystem::path& path) {
  const QrxHeader header = ReadQrxHeader(std::span<const uint8_t>(bytes).first<kQrxHeaderSize>());
  const auto entry = ReadQrxIndexEntry(
      std::span<const uint8_t>(bytes).subspan(kQrxHeaderSize + kQrxIndexEntrySize * k).first<kQrxIndexEntrySize>());
  const std::size_t field = header.dataOffset + entry.frameOffset + 28;  // dcStreamSize
  StoreU32(std::span<uint8_t>(bytes).subspan(field).first<4>(), 0xFFFFFF00);
  test::WriteAllBytes(path, bytes);
}

// A damaged frame is named and leaves nothing behind: no partial file, an existing output of the
// same name as it was, no folder made for frames. Nor is the movie itself ever written over.
TEST(ExportRefusals, LeaveTheFolderAsItWas) {
  test::ScratchFolder folder("export_refusals");
  WriteDamaged(SampleMovie(folder.File("good.qrx"), 4, 320, 240), 3, folder.Path() / "bad.qrx");
  std::filesystem::copy_file(folder.Path() / "good.qrx", folder.Path() / "movie.mkv");  // a movie by an odd name
  folder.WriteFile("old.mkv", "an older export");
  std::filesystem::create_directories(folder.Path() / "frames");
  folder.WriteFile("frames/frame-00000.jpg", "an older frame");
  const struct {
    std::string arguments;
    int status;
    std::string says;
  } cases[] = {
      {"bad.qrx old.mkv", 1, "bad.qrx: frame 3 is damaged"},
      {"bad.qrx new.avi", 1, "bad.qrx: frame 3 is damaged"},
      {"bad.qrx --frames new", 1, "frame 3 is damaged"},
      {"bad.qrx --frames frames", 1, "frame 3 is damaged"},
      {"good.qrx good.qrx", 2, "does not end in .mkv"},
      {"movie.mkv ../" + folder.Path().filename().string() + "/movie.mkv", 1, "movie.mkv: is the movie itself"},
      {"good.qrx out.webm", 2, "does not end in .mkv, .avi or .mp4"},
      {"good.qrx --frames f --from 4", 1, "frame 4 does not exist"},
      {"good.qrx --frames f --count x", 2, "--count 'x' is not a count"},
      {"good.qrx out.mkv --from 1", 2, "--from and --count go with --frames"},
  };
  const std::vector<std::string> before = folder.Names();
  const std::vector<uint8_t> movie = test::ReadAllBytes(folder.Path() / "movie.mkv");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const test::CommandResult r = test::RunCommand("cd " + test::ShellQuoted(folder.Path()) + " && " + Qrxtool("export " + c.arguments));
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_EQ(folder.Names(), before);
    EXPECT_EQ(folder.ReadFile("old.mkv"), "an older export");
    EXPECT_EQ(folder.ReadFile("frames/frame-00000.jpg"), "an older frame");
    const auto inFrames = std::filesystem::directory_iterator(folder.Path() / "frames");
    EXPECT_EQ(std::distance(begin(inFrames), end(inFrames)), 1);
    EXPECT_EQ(test::ReadAllBytes(folder.Path() / "movie.mkv"), movie);
  }
}

// The thumbnailer entry, run as a file manager runs it: its Exec line with the movie, the output
// and the size filled in, qrxtool found on the PATH. The PNG, read by the ffmpeg tool, is the
// frame a tenth of the way in, fitted into the size and never enlarged.
TEST(Thumbnailer, ExecLineMakesTheFramesPicture) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const std::string entry = test::ScratchFolder().ReadFile(QRXTOOL_THUMBNAILER);
  for (const char* line : {"[Thumbnailer Entry]\n", "\nTryExec=qrxtool\n", "\nMimeType=video/x-qrx;\n"}) {
    EXPECT_NE(entry.find(line), std::string::npos) << line;
  }
  const std::string execKey = "\nExec=";
  const std::size_t exec = entry.find(execKey);
  ASSERT_NE(exec, std::string::npos);
  const std::string command = entry.substr(exec + execKey.size(), entry.find('\n', exec + 1) - exec - execKey.size());
  EXPECT_EQ(command, "qrxtool thumbnail %i %o %s");

  test::ScratchFolder folder("thumbnailer");
  const std::vector<uint8_t> whole = SampleMovie(folder.File("movie.qrx"), 10, 320, 218);
  WriteDamaged(whole, 1, folder.Path() / "damaged.qrx");
  test::WriteAllBytes(folder.Path() / "short.qrx", std::span(whole).first(whole.size() / 2));
  auto parsed = ParseMovie(whole);
  ASSERT_TRUE(parsed);
  FrameDecoder decoder;
  ASSERT_TRUE(DecodeMovieFrame(*parsed, 1, decoder));
  const std::vector<uint8_t> frame = RgbOfPicture(decoder);

  const auto run = [&](const std::string& movie, const std::string& size) {
    std::string line = command;
    const auto fill = [&line](const std::string& key, const std::string& value) { line.replace(line.find(key), key.size(), value); };
    fill("%i", test::ShellQuoted(folder.Path() / movie));
    fill("%o", test::ShellQuoted(folder.Path() / "out.png"));
    fill("%s", size);
    const std::filesystem::path bin = std::filesystem::path(QRXTOOL_PATH).parent_path();
    return test::RunCommand("PATH=" + test::ShellQuoted(bin) + ":\"$PATH\" " + line);
  };
  const struct {
    std::string size;
    int width;
    int height;
  } sizes[] = {{"128", 128, 87}, {"64", 64, 44}, {"1000", 320, 218}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(s.size);
    const test::CommandResult r = run("movie.qrx", s.size);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(test::RunCommand("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                               test::ShellQuoted(folder.Path() / "out.png")).output,
              "png," + std::to_string(s.width) + "," + std::to_string(s.height) + "\n");
    ASSERT_TRUE(test::RunFfmpegTool("-i " + test::ShellQuoted(folder.Path() / "out.png") + " -f rawvideo -pix_fmt rgb24 " +
                                    test::ShellQuoted(folder.Path() / "out.rgb")));
    const std::vector<uint8_t> png = test::ReadAllBytes(folder.Path() / "out.rgb");
    ASSERT_EQ(png.size(), std::size_t(s.width) * s.height * 3);
    if (s.width == 320) {
      EXPECT_EQ(png, frame);  // not scaled: the picture itself
    }
    EXPECT_NEAR(MeanLevel(png), MeanLevel(frame), 2.0);
  }
  for (const char* bad : {"damaged.qrx", "short.qrx", "missing.qrx"}) {
    std::filesystem::remove(folder.Path() / "out.png");
    const test::CommandResult r = run(bad, "128");
    EXPECT_EQ(r.status, 1) << bad << ": " << r.output;
    EXPECT_NE(r.output.find(bad), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "out.png")) << bad;
  }
}

}  // namespace
}  // namespace reel
