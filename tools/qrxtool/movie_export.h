// Exporting a movie: every frame as a baseline JPEG of its own coefficients (frame_export.h),
// either muxed with the movie's companion sound into one Matroska, AVI or MP4 file, or written as
// picture files. Nothing appears under its real name before all of it is written: a damaged
// frame, a full disk or any other failure leaves the output folder as it was, and an existing
// file of an output's name is replaced only by a complete export.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "common/result.h"
#include "platform/muxer/movie_muxer.h"
#include "tools/qrxtool/movie_file.h"

namespace reel {

// Told after each frame: frames done, frames in all.
using ExportProgress = std::function<void(std::size_t done, std::size_t total)>;

// The movie's companion sound as the muxer takes it: found as the player finds it (the same base
// name, ".mp3" before ".ogg", the exact name before one differing in ASCII case), and heard from
// where the player starts to hear it: an MP3's information frame is no sound, and the encoder's
// delay it records and the decoder's own delay come before the first sample heard, its padding
// after the last. None when the movie has no companion.
Result<std::optional<MuxedSound>> CompanionForExport(const std::string& moviePath);

struct ExportedMovie {
  std::optional<std::string> soundPath;  // the companion copied, none when there was none
};

// The movie at its frame rate with its companion sound, as the container `outputPath`'s extension
// names (".mkv", ".avi" or ".mp4").
Result<ExportedMovie> ExportMovie(const MovieFile& movie, const std::string& moviePath, const std::string& outputPath,
                                  const ExportProgress& progress);

struct FrameRange {
  std::size_t first = 0;
  std::optional<std::size_t> count;  // none: to the end of the movie
};

// "frame-NNNNN.jpg", NNNNN the frame's index in the movie, at least five digits.
std::string FrameFileName(std::size_t frame);

// The frames of `range` as FrameFileName files in `folder`, which is made when it is missing.
Status ExportFrameFiles(const MovieFile& movie, const std::string& moviePath, const std::string& folder,
                        FrameRange range, const ExportProgress& progress);

}  // namespace reel
