#include "tools/qrxtool/movie_export.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "converter/engine/staged_output.h"
#include "player/audio/mp3_info_frame.h"
#include "player/audio/mp3_tags.h"
#include "player/video/movie.h"
#include "tools/qrxtool/frame_export.h"
#include "tools/qrxtool/picture_output.h"

namespace reel {
namespace {

// More than any MP3 frame with a length in its header; bytes between the tags and the first
// packet the muxer copies that are more than this are not an information frame.
constexpr std::size_t kLongestMp3Frame = 4096;

// Up to `count` bytes of a file from `offset`; fewer at its end.
Result<std::vector<uint8_t>> ReadFileBytes(const std::string& path, uint64_t offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return MakeError(ErrorKind::kCannotRead, path, "cannot open the file");
  std::vector<uint8_t> bytes(count);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  if (in.bad()) return MakeError(ErrorKind::kCannotRead, path, "read failed");
  return bytes;
}

// The player's view of an MP3's start: the audio between its tags begins with an information
// frame or with sound. Where the muxer's first packet lies after the tags, what lies between is
// the information frame, if it is one.
Status ReadMp3Extent(const std::string& path, uint64_t firstPacket, MuxedSound& sound) {
  std::error_code error;
  const uint64_t size = std::filesystem::file_size(path, error);
  if (error) return MakeError(ErrorKind::kCannotRead, path, "cannot read the file's size");
  Result<std::vector<uint8_t>> head = ReadFileBytes(path, 0, kAudioRangeHeadBytes);
  if (!head) return head.error();
  const uint64_t tailStart = size - std::min<uint64_t>(size, kAudioRangeTailBytes);
  Result<std::vector<uint8_t>> tail = ReadFileBytes(path, tailStart, kAudioRangeTailBytes);
  if (!tail) return tail.error();
  const AudioRange range = FindAudioRange(*head, *tail, static_cast<std::size_t>(size));
  if (firstPacket <= range.start || firstPacket - range.start > kLongestMp3Frame) return {};
  Result<std::vector<uint8_t>> frame = ReadFileBytes(path, range.start, static_cast<std::size_t>(firstPacket - range.start));
  if (!frame) return frame.error();
  if (const std::optional<Mp3InfoFrame> info = ReadMp3InfoFrame(*frame)) {
    sound.leadSamples += info->FirstSample();
    sound.endSample = info->EndSample();
  }
  return {};
}

Error FrameError(const std::string& moviePath, std::size_t k, const Error& error) {
  return MakeError(ErrorKind::kDamaged, moviePath, "frame " + std::to_string(k) + " is damaged: " + error.message);
}

Status CheckMovie(const MovieFile& movie, const std::string& moviePath) {
  if (movie.index.empty()) return MakeError(ErrorKind::kRefused, moviePath, "the movie has no frames");
  const QrxHeader& h = movie.header;
  if (h.width == 0 || h.height == 0 || h.width > kMuxedLargestSide || h.height > kMuxedLargestSide) {
    return MakeError(ErrorKind::kDamaged, moviePath,
                     "its picture size " + std::to_string(h.width) + "x" + std::to_string(h.height) + " cannot be exported");
  }
  return {};
}

// Frame k as a JPEG, or the error that names it.
Result<std::vector<uint8_t>> FrameJpeg(const MovieFile& movie, const std::string& moviePath, std::size_t k,
                                       FrameJpegWriter& writer) {
  const auto frame = movie.FrameBytes(k);
  if (!frame) return FrameError(moviePath, k, Error{ErrorKind::kDamaged, "it lies outside the file"});
  Result<std::vector<uint8_t>> jpeg = writer.Write(*frame, movie.header.width, movie.header.height);
  if (!jpeg) return FrameError(moviePath, k, jpeg.error());
  return jpeg;
}

Status WriteFrameFiles(const MovieFile& movie, const std::string& moviePath, const std::filesystem::path& folder,
                       std::size_t first, std::size_t count, const ExportProgress& progress) {
  StagedOutputs outputs;
  FrameJpegWriter writer;
  writer.StartAt(movie, first);
  for (std::size_t i = 0; i < count; ++i) {
    Result<std::vector<uint8_t>> jpeg = FrameJpeg(movie, moviePath, first + i, writer);
    if (!jpeg) return jpeg.error();
    Result<StagedOutput*> staged = outputs.Stage((folder / FrameFileName(first + i)).string());
    if (!staged) return staged.error();
    if (Status written = WriteBytesToFile((*staged)->TemporaryPath(), *jpeg); !written) {
      return outputs.InRealNames(written.error());
    }
    outputs.Keep(*staged, StagedOutputs::Role::kCompanion);
    if (progress) progress(i + 1, count);
  }
  return outputs.CommitAll();
}

}  // namespace

Result<std::optional<MuxedSound>> CompanionForExport(const std::string& moviePath) {
  const std::optional<std::string> path = FindAnyCompanionSound(moviePath);
  if (!path) return std::optional<MuxedSound>();
  Result<SoundFileFacts> facts = ProbeSoundFile(*path);
  if (!facts) return facts.error();
  MuxedSound sound;
  sound.path = *path;
  sound.leadSamples = facts->decoderLeadSamples;
  if (facts->codec == SoundCodec::kMp3) {
    if (Status read = ReadMp3Extent(*path, facts->firstPacketOffset, sound); !read) return read.error();
  }
  return std::optional<MuxedSound>(std::move(sound));
}

Result<ExportedMovie> ExportMovie(const MovieFile& movie, const std::string& moviePath, const std::string& outputPath,
                                  const ExportProgress& progress) {
  const std::optional<MovieContainer> container = ContainerForName(outputPath);
  if (!container) return MakeError(ErrorKind::kUsage, outputPath, "the name does not end in .mkv, .avi or .mp4");
  if (Status checked = CheckMovie(movie, moviePath); !checked) return checked.error();
  if (movie.header.frameRate == 0 || movie.header.frameRate > kMuxedFastestRate) {
    return MakeError(ErrorKind::kDamaged, moviePath, "its frame rate " + std::to_string(movie.header.frameRate) +
                                                         " is not one a movie plays at");
  }
  if (SameFile(outputPath, moviePath)) return MakeError(ErrorKind::kRefused, outputPath, "is the movie itself");
  Result<std::optional<MuxedSound>> sound = CompanionForExport(moviePath);
  if (!sound) return sound.error();
  Result<StagedOutput> staged = StagedOutput::Create(outputPath);
  if (!staged) return staged.error();
  const MuxedPictures pictures{movie.header.width, movie.header.height, movie.header.frameRate};
  Result<MovieMuxer> muxer = MovieMuxer::Open(staged->TemporaryPath(), outputPath, *container, pictures, *sound);
  if (!muxer) return muxer.error();
  FrameJpegWriter writer;
  const std::size_t total = movie.index.size();
  for (std::size_t k = 0; k < total; ++k) {
    Result<std::vector<uint8_t>> jpeg = FrameJpeg(movie, moviePath, k, writer);
    if (!jpeg) return jpeg.error();
    if (Status written = muxer->WriteFrame(*jpeg); !written) return written.error();
    if (progress) progress(k + 1, total);
  }
  if (Status finished = muxer->Finish(); !finished) return finished.error();
  if (Status committed = staged->Commit(); !committed) return committed.error();
  return ExportedMovie{*sound ? std::optional<std::string>((*sound)->path) : std::nullopt};
}

std::string FrameFileName(std::size_t frame) {
  std::array<char, 32> name{};
  std::snprintf(name.data(), name.size(), "frame-%05zu.jpg", frame);
  return name.data();
}

Status ExportFrameFiles(const MovieFile& movie, const std::string& moviePath, const std::string& folder,
                        FrameRange range, const ExportProgress& progress) {
  if (Status checked = CheckMovie(movie, moviePath); !checked) return checked;
  const std::size_t frames = movie.index.size();
  if (range.first >= frames) {
    return MakeError(ErrorKind::kRefused, moviePath,
                     "frame " + std::to_string(range.first) + " does not exist (the movie has " +
                         std::to_string(frames) + " frames)");
  }
  const std::size_t count = std::min(range.count.value_or(frames), frames - range.first);
  std::error_code error;
  const bool existed = std::filesystem::exists(folder, error);
  if (!existed && !std::filesystem::create_directories(folder, error)) {
    return MakeError(ErrorKind::kCannotWrite, folder, "cannot make the folder: " + error.message());
  }
  Status written = WriteFrameFiles(movie, moviePath, folder, range.first, count, progress);
  // A folder made for a failed export is not left behind.
  if (!written && !existed) std::filesystem::remove(folder, error);
  return written;
}

}  // namespace reel
