// Pictures for the tests of the JPEG stage and the coders around it: natural-looking test
// pictures, JPEGs made with libjpeg under many settings, and libjpeg's own reading of a JPEG's
// coefficients as the reference.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/coefficient_set.h"
#include "converter/coder/bmp_image.h"

namespace reel::test {

enum class Sampling { k420, k422, k444 };

struct TestJpegOptions {
  int width = 16;
  int height = 16;
  int quality = 50;
  Sampling sampling = Sampling::k420;
  int restartInterval = 0;     // MCUs; 0 = none
  bool sixteenBitTables = false;  // quantisation values above 255 (written as 16-bit tables, SOF1)
  bool grey = false;
  bool progressive = false;
  int components = 3;  // 3 for colour; 2 or 4 give unconverted multi-component streams
};

// Packed RGB (top row first): smooth gradients, edges and a little noise.
std::vector<uint8_t> NaturalRgb(int width, int height, uint32_t seed);

// A bottom-up 24-bit BmpImage whose picture top row is `rgb`'s first row (stored last).
BmpImage BottomUpPicture(std::span<const uint8_t> rgb, int width, int height);

// A JPEG made by libjpeg from packed samples (`components` bytes per pixel, top row first).
std::vector<uint8_t> MakeTestJpeg(const TestJpegOptions& options, std::span<const uint8_t> samples);

// The same stream with all DQT segments before the frame header merged into one segment.
std::vector<uint8_t> MergeQuantSegments(std::span<const uint8_t> jpeg);

// libjpeg's coefficients as the frame coder's hand-over: blocks in MCU order, dequantised, natural
// order; tables 0 and 1 in zig-zag order. None when libjpeg cannot read the stream.
std::optional<CoefficientSet> ReadWithLibjpeg(std::span<const uint8_t> jpeg);

// Packed RGB of a JPEG decoded by libjpeg (its accurate integer transform). Without
// `smoothChroma` the chroma is up-sampled by repeating each sample, as the frame decoder does.
std::vector<uint8_t> DecodeWithLibjpeg(std::span<const uint8_t> jpeg, int& width, int& height,
                                       bool smoothChroma = true);

double Psnr(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace reel::test
