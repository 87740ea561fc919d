// Writing a QRX movie, in the order a conversion job calls the steps:
//   CreateQrxFile -> BeginQrx -> AppendQrxFrame (exactly N times) -> FinishQrx.
//
// The header and the whole index live in one memory block from BeginQrx to FinishQrx. It is
// written once at the start (so the frames land at dataOffset) and again at the end, when every
// index entry and the file size are known. Until then the file on disk has a zero index and a file
// size of 0, which readers recognise as an unfinished movie.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "converter/choices/job_choices.h"

namespace reel {

// A movie being written. Each step records the first failure (a file that cannot be created, a
// write that fails, a frame beyond the index) in `status` and returns it, so a caller may check
// every step or only the last; the job decides what to do about it. The failure is a kCannotWrite
// error (kUsage for a step out of order or beyond the index) naming the movie file.
struct QrxOutput {
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::string path;
  std::unique_ptr<std::FILE, FileCloser> file;
  std::vector<uint8_t> headerAndIndex;  // 48 + 24 x N bytes
  uint32_t frameCount = 0;              // N, fixed by BeginQrx
  uint32_t framesAppended = 0;          // frames done, for the progress display
  uint64_t runningOffset = 0;           // where the next frame goes, counted from dataOffset
  Status status;                        // the first failure, success while all is well
};

// Creates (or truncates) the movie file for writing.
QrxOutput CreateQrxFile(const std::string& path);

// Builds the header and a zero index for N frames and writes them at offset 0; the picture size
// is the choice's box until the job sets its own.
Status BeginQrx(QrxOutput& movie, uint32_t frameCount, uint32_t frameRate, PictureSizeChoice pictureSizeChoice);

// The picture size the job settled on before coding the first frame (the fit to the source's
// shape). It reaches the file with FinishQrx, and every index entry's raw size uses it.
void SetQrxPictureSize(QrxOutput& movie, uint32_t width, uint32_t height);
uint32_t QrxWidth(const QrxOutput& movie);
uint32_t QrxHeight(const QrxOutput& movie);

// Writes one coded frame at the end of the file and fills its index entry.
Status AppendQrxFrame(QrxOutput& movie, std::span<const uint8_t> codedFrame);

// Sets the file size, rewrites the header and index at offset 0 and closes the file. The first
// failure on the way, including fewer frames than the index was made for.
Status FinishQrx(QrxOutput& movie);

}  // namespace reel
