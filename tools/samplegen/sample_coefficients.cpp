#include "tools/samplegen/sample_coefficients.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

#include "common/zigzag.h"
#include "converter/jpeg/jpeg_codec.h"

namespace reel {
namespace {

using Plane = std::vector<float>;

uint8_t ClampByte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Samples of one component with edge replication, so padded blocks repeat the last row/column.
float SampleAt(const Plane& plane, uint32_t width, uint32_t height, uint32_t x, uint32_t y) {
  return plane[std::min(y, height - 1) * width + std::min(x, width - 1)];
}

std::array<double, 64> ForwardDct(const std::array<double, 64>& samples) {
  std::array<double, 64> out{};
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          sum += samples[static_cast<size_t>(y * 8 + x)] *
                 std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                 std::cos((2 * y + 1) * v * std::numbers::pi / 16);
        }
      }
      const double cu = u == 0 ? std::numbers::sqrt2 / 2 : 1.0;
      const double cv = v == 0 ? std::numbers::sqrt2 / 2 : 1.0;
      out[static_cast<size_t>(v * 8 + u)] = 0.25 * cu * cv * sum;
    }
  }
  return out;
}

CoefficientBlock CodeBlock(const Plane& plane, uint32_t width, uint32_t height, uint32_t x0, uint32_t y0,
                           const QuantTable& zigzagTable) {
  std::array<double, 64> samples{};
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 8; ++x) samples[y * 8 + x] = SampleAt(plane, width, height, x0 + x, y0 + y) - 128.0;
  }
  const std::array<double, 64> dct = ForwardDct(samples);
  CoefficientBlock block{};
  for (size_t i = 0; i < 64; ++i) {
    const size_t k = kZigZag[i];
    const auto q = static_cast<int32_t>(zigzagTable[i]);
    block[k] = static_cast<int32_t>(std::lround(dct[k] / q)) * q;
  }
  return block;
}

}  // namespace

RgbPicture MakeSamplePicture(uint32_t width, uint32_t height, uint32_t frameIndex) {
  RgbPicture picture{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> grain(-12, 12);
  const double horizon = height * 0.55;
  const double ballX = width * (0.2 + 0.6 * std::fmod(frameIndex * 0.03, 1.0));
  const double ballY = horizon + height * 0.15;
  const double ballR = std::max(2.0, height * 0.08);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      double r, g, b;
      if (y < horizon) {
        const double t = y / horizon;
        r = 70 + 120 * t;
        g = 120 + 90 * t;
        b = 230 - 30 * t;
        const double dx = x - width * 0.75, dy = y - horizon * 0.35;
        if (dx * dx + dy * dy < ballR * ballR * 2.2) r = 255, g = 235, b = 150;
      } else {
        const double stripes = 20 * std::sin(x * 0.21 + y * 0.05) + 15 * std::sin(y * 0.9);
        r = 90 + stripes + grain(rng);
        g = 140 + stripes + grain(rng);
        b = 60 + grain(rng);
      }
      const double dx = x - ballX, dy = y - ballY;
      if (dx * dx + dy * dy < ballR * ballR) r = 220, g = 30, b = 40;
      uint8_t* p = &picture.rgb[(size_t{y} * width + x) * 3];
      p[0] = ClampByte(r);
      p[1] = ClampByte(g);
      p[2] = ClampByte(b);
    }
  }
  return picture;
}

QuantTable ScaledQuantTable(int table, int32_t quality) {
  const std::array<uint16_t, 64> natural = JpegQuantTable(table, quality);
  QuantTable zigzag{};
  for (size_t i = 0; i < 64; ++i) zigzag[i] = natural[kZigZag[i]];
  return zigzag;
}

CoefficientSet CoefficientsOfPicture(const RgbPicture& picture, int32_t quality) {
  const uint32_t w = picture.width, h = picture.height;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  Plane luma(size_t{w} * h), cb(size_t{cw} * ch), cr(size_t{cw} * ch);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = &picture.rgb[(size_t{y} * w + x) * 3];
      luma[size_t{y} * w + x] = static_cast<float>(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]);
    }
  }
  for (uint32_t y = 0; y < ch; ++y) {
    for (uint32_t x = 0; x < cw; ++x) {
      double r = 0, g = 0, b = 0;
      for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t sx = std::min(2 * x + k % 2, w - 1), sy = std::min(2 * y + k / 2, h - 1);
        const uint8_t* p = &picture.rgb[(size_t{sy} * w + sx) * 3];
        r += p[0] / 4.0;
        g += p[1] / 4.0;
        b += p[2] / 4.0;
      }
      cb[size_t{y} * cw + x] = static_cast<float>(-0.168736 * r - 0.331264 * g + 0.5 * b + 128);
      cr[size_t{y} * cw + x] = static_cast<float>(0.5 * r - 0.418688 * g - 0.081312 * b + 128);
    }
  }
  CoefficientSet set;
  set.width = w;
  set.height = h;
  set.quantTables = {ScaledQuantTable(0, quality), ScaledQuantTable(1, quality)};
  for (uint32_t my = 0; my < MacroblockRows(h); ++my) {
    for (uint32_t mx = 0; mx < MacroblockColumns(w); ++mx) {
      for (uint32_t k = 0; k < 4; ++k) {
        set.blocks.push_back(CodeBlock(luma, w, h, mx * 16 + (k % 2) * 8, my * 16 + (k / 2) * 8, set.quantTables[0]));
      }
      set.blocks.push_back(CodeBlock(cb, cw, ch, mx * 8, my * 8, set.quantTables[1]));
      set.blocks.push_back(CodeBlock(cr, cw, ch, mx * 8, my * 8, set.quantTables[1]));
    }
  }
  return set;
}

CoefficientSet MakeSampleCoefficients(uint32_t width, uint32_t height, int32_t quality, uint32_t frameIndex) {
  return CoefficientsOfPicture(MakeSamplePicture(width, height, frameIndex), quality);
}

CoefficientSet MakeRandomCoefficients(uint32_t width, uint32_t height, uint32_t seed) {
  std::mt19937 rng(seed);
  auto next = [&rng] { return static_cast<uint32_t>(rng()); };
  CoefficientSet set;
  set.width = width;
  set.height = height;
  for (auto& table : set.quantTables) {
    for (auto& q : table) q = static_cast<uint16_t>(1 + next() % (next() % 4 == 0 ? 255 : 8));
  }
  const size_t blocks = size_t{MacroblockColumns(width)} * MacroblockRows(height) * kBlocksPerMacroblock;
  set.blocks.resize(blocks);
  for (size_t b = 0; b < blocks; ++b) {
    const QuantTable& table = set.quantTables[b % kBlocksPerMacroblock < 4 ? 0 : 1];
    const uint32_t density = next() % 64;  // how many positions are likely non-zero
    for (size_t i = 0; i < 64; ++i) {
      int32_t v = 0;
      if (i == 0 || next() % 64 < density) {
        const uint32_t magnitudeBits = next() % 16 == 0 ? next() % 15 : next() % 5;
        v = static_cast<int32_t>(next() % ((1u << magnitudeBits) + 1));
        if (next() % 2) v = -v;
      }
      set.blocks[b][kZigZag[i]] = v * table[i];
    }
  }
  return set;
}

}  // namespace reel
