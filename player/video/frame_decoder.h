// FrameDecoder: one coded frame of a movie to a picture of 16-bit 5-6-5 pixels.
//
// Decoding runs as named stages: find the frame's parts, check the picture fits the buffer, decode
// the entropy stage of the whole frame into a scratch area, and only when all of that succeeded
// commit the size and tables and render each macroblock (dequantise, inverse transform, colour
// conversion) into the picture. A refused frame therefore leaves the previous picture, its size and
// the dequantisation tables exactly as they were. Dequantisation tables carry over from the last
// frame that held them; nothing else is kept between frames.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"
#include "player/video/colour_conversion.h"
#include "player/video/colour_tables.h"
#include "player/video/frame_entropy_decoder.h"
#include "player/video/frame_layout.h"
#include "player/video/inverse_transform.h"
#include "player/video/kernel_choice.h"

namespace reel {

class FrameDecoder {
 public:
  // Makes sure the process-wide colour tables are filled. Kernels::kPlain renders with the plain
  // C++ transform and colour conversion only (the reference the fast kernels are tested against).
  explicit FrameDecoder(Kernels kernels = Kernels::kFastest);

  // Hands the decoder the owner's picture buffer (the player's holds 320 x 240 pixels), which must
  // outlive the decoder. Any previous picture is forgotten. Without one, the decoder allocates
  // paddedWidth x paddedHeight pixels for its first decoded frame and never reallocates.
  void SetPictureBuffer(std::span<uint16_t> pixels);

  // Forgets the picture, its size and the dequantisation tables, so that the next frame decodes
  // exactly as on a new decoder (with the same picture buffer, if the owner gave one); the
  // scratch memory is kept for it.
  void Reset();

  // Decodes one whole coded frame. A refused frame leaves the previous picture, its size and the
  // tables as they were; the error says why it was refused (and names no file).
  Status DecodeFrame(std::span<const uint8_t> frame);

  // The same, rendering the picture straight into `target` with its top-left pixel at (left, top)
  // instead of into the picture buffer, which then does not hold it (Pixels() is not this picture).
  // A frame whose padded picture does not fit the target there is refused (kRefused) and changes
  // nothing; any other refusal is as above, and leaves the target as it was.
  Status DecodeFrameInto(std::span<const uint8_t> frame, const PictureRows& target, uint32_t left,
                         uint32_t top);

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t PaddedWidth() const { return PaddedSize(width_); }
  uint32_t PaddedHeight() const { return PaddedSize(height_); }
  uint32_t RowBytes() const { return 2 * PaddedWidth(); }

  // The picture, top row first, RowBytes() / 2 pixels a row; empty before the first decoded frame.
  std::span<const uint16_t> Pixels() const;

 private:
  bool PictureFits(uint64_t pixelCount) const;
  std::span<uint16_t> PictureBuffer();
  void Commit(const FrameLayout& layout);
  // Everything before rendering; the scratch then holds the frame's coefficients.
  Status DecodeCoefficients(const FrameLayout& layout);
  void RenderPicture(const PictureRows& target, uint32_t left, uint32_t top);
  void RenderMacroblock(std::span<DecodedBlock, kBlocksPerMacroblock> six,
                        std::span<const uint64_t, kBlocksPerMacroblock> placed, const PictureRows& target,
                        uint32_t x, uint32_t y);
  // Kernels::kFastest only: a macroblock whose blocks hold nothing but their DC terms.
  void RenderFlatMacroblock(std::span<const DecodedBlock, kBlocksPerMacroblock> six, const PictureRows& target,
                            uint32_t x, uint32_t y);
  const DequantTable& QuantFor(std::size_t block) const {
    return block < kLumaBlocksPerMacroblock ? lumaQuant_ : chromaQuant_;
  }

  const ColourTables& colourTables_;
  Kernels kernels_;
  std::span<uint16_t> ownerPixels_;
  std::vector<uint16_t> ownPixels_;
  bool hasOwnerBuffer_ = false;

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  bool hasQuantTables_ = false;
  DequantTable lumaQuant_{};
  DequantTable chromaQuant_{};
  // The entropy stage's scratch, reused between frames: the blocks and which coefficients of each
  // were placed.
  std::vector<DecodedBlock> blocks_;
  std::vector<uint64_t> placed_;
};

}  // namespace reel
