// Frame JPEG encoding and decoding: a picture to a baseline JPEG in memory and back.
//
// EncodeFrameJpeg compresses a 24-bit BmpImage as one baseline JFIF stream (YCbCr, 4:2:0) at a
// JPEG quality; its stored rows go to the codec in stored order, so stored row 0 becomes the JPEG's
// top row. DecodeFrameJpeg turns a JPEG frame (1, 3 or 4 components) into a bottom-up 24-bit
// BmpImage for the scaler. Each call sets up and releases its own codec context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/coefficient_set.h"
#include "converter/coder/bmp_image.h"
#include "converter/jpeg/jpeg_codec.h"

namespace reel {

// Room we allow beyond 3 bytes per pixel for the stream's marker segments (about 700 bytes with
// the four Huffman tables), so that even a tiny picture fits.
inline constexpr uint32_t kJpegHeaderAllowance = 1024;

// Largest picture DecodeFrameJpeg will decode (pixels); larger frames are refused before any
// allocation.
inline constexpr uint64_t kMaxDecodedPixels = uint64_t{BmpImage::kMaxDimension} * BmpImage::kMaxDimension / 4;

// The JPEG stream (its length is the vector's size), or none when the codec fails, including a
// stream that does not fit into 3 x width x height + kJpegHeaderAllowance bytes or a picture that
// is not 24 bits per pixel. The picture is not changed.
std::optional<std::vector<uint8_t>> EncodeFrameJpeg(const BmpImage& picture, int32_t quality);

// The same stream written into the first bytes of `buffer`, which grows as needed and is never
// shrunk, so one buffer serves frame after frame without being cleared: the stream's length, or
// none on the same failures.
std::optional<std::size_t> EncodeFrameJpegInto(const BmpImage& picture, int32_t quality, std::vector<uint8_t>& buffer);

// EncodeFrameJpegInto that also keeps the stream's coefficients as a baseline reader would parse
// them back, still quantised, with or without the stream itself (`pass`, in and out, as
// CodecWriteKeepingCoefficients has it); false on the same failures. `coefficients`'s block store
// is reused from frame to frame.
bool EncodeFrameJpegKeepingCoefficients(const BmpImage& picture, int32_t quality, std::vector<uint8_t>& buffer,
                                        QuantisedSet& coefficients, EntropyPass& pass);

// The decoded picture, or none when the parameters or the data cannot be read (warnings about
// damaged data count as failure), when the JPEG has other than 1, 3 or 4 components, or when it is
// larger than kMaxDecodedPixels.
std::optional<BmpImage> DecodeFrameJpeg(std::span<const uint8_t> jpeg);

}  // namespace reel
