#include "platform/mediagraph/picture_storage.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace reel {
namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Blocks are mapped at least this large, so that a 720p picture's planes share large pages.
constexpr std::size_t kLeastBlock = std::size_t{8} << 20;
// libavcodec aligns every plane to 64 bytes and pads it by 16 + 63 bytes beyond its last line:
// the decoders' vector loads and stores may reach that far.
constexpr std::size_t kPlaneAlign = 64;
constexpr std::size_t kPlanePadding = 16 + kPlaneAlign - 1;

std::size_t RoundUp(std::size_t value, std::size_t step) { return (value + step - 1) / step * step; }

void KeepMemory(void* /*opaque*/, uint8_t* /*data*/) {}

}  // namespace

// The mapped blocks planes are carved from, shared by the shape's plane pools and let go with the
// last of them: a plane stays in its block, handed out again by its pool, until every picture
// holding one of the shape's planes is gone.
struct PictureStorage::Blocks {
  struct Mapping {
    uint8_t* start = nullptr;
    std::size_t length = 0;
  };

  ~Blocks() {
    for (const Mapping& mapping : mappings) ::munmap(mapping.start, mapping.length);
  }

  // `size` bytes at a 64-byte boundary; null when no memory can be mapped.
  uint8_t* Carve(std::size_t size) {
    const std::scoped_lock lock(mutex);
    size = RoundUp(size, kPlaneAlign);
    if (mappings.empty() || mappings.back().length - used < size) {
      if (!Map(std::max(kLeastBlock, RoundUp(size, kLargePage)))) return nullptr;
    }
    uint8_t* plane = mappings.back().start + used;
    used += size;
    return plane;
  }

  // A fresh block of `length` bytes (a multiple of the large page) on a large-page boundary.
  bool Map(std::size_t length) {
    void* mapped = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return false;
    auto* start = static_cast<uint8_t*>(mapped);
    auto* aligned = reinterpret_cast<uint8_t*>(RoundUp(reinterpret_cast<std::uintptr_t>(start), kLargePage));
    if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t tail = static_cast<std::size_t>(start + length + kLargePage - (aligned + length));
    if (tail > 0) ::munmap(aligned + length, tail);
    // Only a hint: without large pages the block is served in small pages as any other.
    ::madvise(aligned, length, MADV_HUGEPAGE);
    mappings.push_back({aligned, length});
    used = 0;
    return true;
  }

  // A pool's allocator: the plane is carved once and kept by the pool for reuse, so the buffer
  // frees nothing itself.
  static AVBufferRef* Allocate(void* opaque, std::size_t size) {
    auto& blocks = **static_cast<std::shared_ptr<Blocks>*>(opaque);
    uint8_t* plane = blocks.Carve(size);
    if (plane == nullptr) return av_buffer_allocz(size);
    return av_buffer_create(plane, size, &KeepMemory, nullptr, 0);
  }

  static void PoolGone(void* opaque) { delete static_cast<std::shared_ptr<Blocks>*>(opaque); }

  std::mutex mutex;
  std::vector<Mapping> mappings;
  std::size_t used = 0;  // bytes carved from the last mapping
};

PictureStorage::PictureStorage() = default;

PictureStorage::~PictureStorage() { Release(); }

void PictureStorage::AttachTo(AVCodecContext& codec) {
  codec.opaque = this;
  codec.get_buffer2 = &PictureStorage::GetBuffer;
}

int PictureStorage::GetBuffer(AVCodecContext* codec, AVFrame* frame, int flags) {
  auto* self = static_cast<PictureStorage*>(codec->opaque);
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  const bool ours = self != nullptr && codec->codec_type == AVMEDIA_TYPE_VIDEO && codec->codec != nullptr &&
                    (codec->codec->capabilities & AV_CODEC_CAP_DR1) != 0 && codec->hw_frames_ctx == nullptr &&
                    descriptor != nullptr &&
                    (descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) == 0 &&
                    frame->format == codec->pix_fmt && frame->width > 0 && frame->height > 0;
  if (!ours) return avcodec_default_get_buffer2(codec, frame, flags);
  const std::scoped_lock lock(self->mutex_);
  if (!self->Shape(*codec, *frame)) return avcodec_default_get_buffer2(codec, frame, flags);
  return self->Fill(*frame);
}

// The planes' layout for the frame's format and size, as libavcodec lays them out: the size
// aligned as the codec needs, then widened until every line size is a multiple of the stride
// alignment (widening all planes together keeps their line sizes in proportion).
bool PictureStorage::Shape(AVCodecContext& codec, const AVFrame& frame) {
  if (pools_[0] != nullptr && frame.format == format_ && frame.width == width_ && frame.height == height_) return true;
  Release();
  int width = frame.width;
  int height = frame.height;
  int strideAlign[AV_NUM_DATA_POINTERS] = {};
  avcodec_align_dimensions2(&codec, &width, &height, strideAlign);
  std::array<int, 4> lineSizes{};
  bool unaligned = true;
  while (unaligned) {
    if (av_image_fill_linesizes(lineSizes.data(), codec.pix_fmt, width) < 0) return false;
    if (width > INT_MAX / 2) return false;
    width += width & ~(width - 1);
    unaligned = false;
    for (int i = 0; i < 4; ++i) {
      if (strideAlign[i] > 0 && lineSizes[i] % strideAlign[i] != 0) unaligned = true;
    }
  }
  ptrdiff_t wideLineSizes[4] = {lineSizes[0], lineSizes[1], lineSizes[2], lineSizes[3]};
  std::size_t planeSizes[4] = {};
  if (av_image_fill_plane_sizes(planeSizes, codec.pix_fmt, height, wideLineSizes) < 0) return false;
  const auto blocks = std::make_shared<Blocks>();
  for (int i = 0; i < 4 && planeSizes[i] > 0; ++i) {
    if (planeSizes[i] > static_cast<std::size_t>(INT_MAX) - kPlanePadding) {
      Release();
      return false;
    }
    auto* share = new std::shared_ptr<Blocks>(blocks);
    pools_[i] = av_buffer_pool_init2(planeSizes[i] + kPlanePadding, share, &Blocks::Allocate, &Blocks::PoolGone);
    if (pools_[i] == nullptr) {
      delete share;
      Release();
      return false;
    }
  }
  lineSizes_ = lineSizes;
  format_ = frame.format;
  width_ = frame.width;
  height_ = frame.height;
  return true;
}

int PictureStorage::Fill(AVFrame& frame) {
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
    frame.data[i] = nullptr;
    frame.linesize[i] = 0;
  }
  frame.extended_data = frame.data;
  for (int i = 0; i < 4 && pools_[i] != nullptr; ++i) {
    frame.buf[i] = av_buffer_pool_get(pools_[i]);
    if (frame.buf[i] == nullptr) {
      for (int j = 0; j < i; ++j) {
        av_buffer_unref(&frame.buf[j]);
        frame.data[j] = nullptr;
        frame.linesize[j] = 0;
      }
      return AVERROR(ENOMEM);
    }
    frame.data[i] = frame.buf[i]->data;
    frame.linesize[i] = lineSizes_[i];
  }
  return 0;
}

// Lets the current shape's pools go; each is freed once its last plane comes back.
void PictureStorage::Release() {
  for (AVBufferPool*& pool : pools_) av_buffer_pool_uninit(&pool);
  format_ = -1;
  width_ = 0;
  height_ = 0;
}

}  // namespace reel
