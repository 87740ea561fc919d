// Where a video decoder keeps its pictures. Internal to platform/mediagraph.
//
// libavcodec's own storage gives every plane of every new picture a zero-filled block of the
// allocator's small pages. A decoder holds a picture for each frame in flight and each reference,
// per decoding thread, so the first pictures of a large video each cost hundreds of page faults:
// on a short 720p job that was a fifth of the processor time. This storage lays the planes out
// exactly as libavcodec's does (the same line sizes and padding, the same 64-byte alignment), but
// carves them from blocks mapped in 2 MiB steps on 2 MiB boundaries, where the system may back
// them with large pages (one fault for 2 MiB). Fresh mapped memory is zero, as libavcodec's blocks
// are; a plane given back is handed out again as it was, as libavcodec's pools do. Decoders that
// cannot decode into storage of the caller's, and formats without a layout of their own here,
// keep libavcodec's storage.
#pragma once

#include <array>
#include <memory>
#include <mutex>

struct AVBufferPool;
struct AVCodecContext;
struct AVFrame;

namespace reel {

enum class PictureMemory {
  kLargePages,      // planes carved from 2 MiB-aligned blocks (the default)
  kLibraryDefault,  // libavcodec's own storage: the reference
};

class PictureStorage {
 public:
  PictureStorage();
  ~PictureStorage();
  PictureStorage(const PictureStorage&) = delete;
  PictureStorage& operator=(const PictureStorage&) = delete;

  // Makes `codec` take its pictures from this storage. The storage must outlive every call the
  // codec makes (free the codec first); pictures it handed out may outlive both.
  void AttachTo(AVCodecContext& codec);

 private:
  struct Blocks;
  static int GetBuffer(AVCodecContext* codec, AVFrame* frame, int flags);
  int Fill(AVFrame& frame);
  bool Shape(AVCodecContext& codec, const AVFrame& frame);
  void Release();

  std::mutex mutex_;  // frame-threaded decoders ask from several threads at once
  int format_ = -1;
  int width_ = 0;
  int height_ = 0;
  std::array<int, 4> lineSizes_{};
  std::array<AVBufferPool*, 4> pools_{};
};

}  // namespace reel
