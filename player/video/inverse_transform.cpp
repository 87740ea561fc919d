#include "player/video/inverse_transform.h"

#include <algorithm>
#include <cstddef>

namespace reel {
namespace {

// 16.16 fixed-point factors of the transform.
constexpr int32_t kF0541 = 35467;     // 0.541196
constexpr int32_t kFm1847 = -121094;  // -1.847759
constexpr int32_t kF0765 = 50159;     // 0.765367
constexpr int32_t kF1175 = 77062;     // 1.175876
constexpr int32_t kFm0899 = -58980;   // -0.899976
constexpr int32_t kFm2562 = -167963;  // -2.562915
constexpr int32_t kFm1961 = -128553;  // -1.961571
constexpr int32_t kFm0390 = -25570;   // -0.390181
constexpr int32_t kF0298 = 19571;     // 0.298631
constexpr int32_t kF2053 = 134553;    // 2.053120
constexpr int32_t kF3072 = 201373;    // 3.072711
constexpr int32_t kF1501 = 98390;     // 1.501321

// Plain reference arithmetic: every step computed exactly in 64 bits, then wrapped to 32.
int32_t Wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }
int32_t RefAdd(int32_t a, int32_t b) { return Wrap32(int64_t{a} + b); }
int32_t RefSub(int32_t a, int32_t b) { return Wrap32(int64_t{a} - b); }
int32_t RefMul(int32_t a, int32_t factor) { return Wrap32(int64_t{a} * factor) >> 16; }

struct Row8 {
  std::array<int32_t, 8> v;
};

Row8 Transform1dReference(const Row8& x) {
  const auto& v = x.v;
  const int32_t z = RefMul(RefAdd(v[2], v[6]), kF0541);
  const int32_t t2 = RefAdd(z, RefMul(v[6], kFm1847));
  const int32_t t3 = RefAdd(z, RefMul(v[2], kF0765));
  const int32_t t0 = RefAdd(v[0], v[4]);
  const int32_t t1 = RefSub(v[0], v[4]);
  const int32_t t10 = RefAdd(t0, t3);
  const int32_t t13 = RefSub(t0, t3);
  const int32_t t11 = RefAdd(t1, t2);
  const int32_t t12 = RefSub(t1, t2);

  const int32_t z5 = RefMul(RefAdd(RefAdd(v[1], v[3]), RefAdd(v[5], v[7])), kF1175);
  const int32_t z1 = RefMul(RefAdd(v[1], v[7]), kFm0899);
  const int32_t z2 = RefMul(RefAdd(v[3], v[5]), kFm2562);
  const int32_t z3 = RefAdd(z5, RefMul(RefAdd(v[3], v[7]), kFm1961));
  const int32_t z4 = RefAdd(z5, RefMul(RefAdd(v[1], v[5]), kFm0390));
  const int32_t o0 = RefAdd(RefAdd(RefMul(v[7], kF0298), z1), z3);
  const int32_t o1 = RefAdd(RefAdd(RefMul(v[5], kF2053), z2), z4);
  const int32_t o2 = RefAdd(RefAdd(RefMul(v[3], kF3072), z2), z3);
  const int32_t o3 = RefAdd(RefAdd(RefMul(v[1], kF1501), z1), z4);

  return Row8{{RefAdd(t10, o3), RefAdd(t11, o2), RefAdd(t12, o1), RefAdd(t13, o0),
               RefSub(t13, o0), RefSub(t12, o1), RefSub(t11, o2), RefSub(t10, o3)}};
}

// Fast arithmetic: unsigned 32-bit operations wrap by definition; a product is turned back to
// signed (a modular conversion) before its arithmetic shift.
using U32 = uint32_t;
U32 Mul(U32 a, int32_t factor) {
  return static_cast<U32>(static_cast<int32_t>(a * static_cast<U32>(factor)) >> 16);
}

void Transform1d(const std::array<U32, 8>& v, std::array<U32, 8>& y) {
  const U32 z = Mul(v[2] + v[6], kF0541);
  const U32 t2 = z + Mul(v[6], kFm1847);
  const U32 t3 = z + Mul(v[2], kF0765);
  const U32 t0 = v[0] + v[4];
  const U32 t1 = v[0] - v[4];
  const U32 t10 = t0 + t3;
  const U32 t13 = t0 - t3;
  const U32 t11 = t1 + t2;
  const U32 t12 = t1 - t2;

  const U32 z5 = Mul(v[1] + v[3] + v[5] + v[7], kF1175);
  const U32 z1 = Mul(v[1] + v[7], kFm0899);
  const U32 z2 = Mul(v[3] + v[5], kFm2562);
  const U32 z3 = z5 + Mul(v[3] + v[7], kFm1961);
  const U32 z4 = z5 + Mul(v[1] + v[5], kFm0390);
  const U32 o0 = Mul(v[7], kF0298) + z1 + z3;
  const U32 o1 = Mul(v[5], kF2053) + z2 + z4;
  const U32 o2 = Mul(v[3], kF3072) + z2 + z3;
  const U32 o3 = Mul(v[1], kF1501) + z1 + z4;

  y[0] = t10 + o3;
  y[7] = t10 - o3;
  y[1] = t11 + o2;
  y[6] = t11 - o2;
  y[2] = t12 + o1;
  y[5] = t12 - o1;
  y[3] = t13 + o0;
  y[4] = t13 - o0;
}

int16_t Truncate16(int32_t value) { return static_cast<int16_t>(value); }
int16_t Truncate16(U32 value) { return static_cast<int16_t>(value); }
int16_t RowOutput(U32 value) { return Truncate16(static_cast<int32_t>(value) >> 3); }

U32 Dequantise(int16_t coefficient, uint16_t factor) {
  return static_cast<U32>(int32_t{coefficient} * int32_t{factor});
}

bool AcTermsZero(std::span<const int16_t, 64> block) {
  return std::all_of(block.begin() + 1, block.end(), [](int16_t c) { return c == 0; });
}

void ColumnPass(std::span<int16_t, 64> block, const DequantTable& quant) {
  std::array<U32, 8> x{};
  std::array<U32, 8> y{};
  for (std::size_t column = 0; column < 8; ++column) {
    U32 acTerms = 0;
    for (std::size_t row = 0; row < 8; ++row) {
      x[row] = Dequantise(block[row * 8 + column], quant[row * 8 + column]);
      if (row != 0) acTerms |= x[row];
    }
    if (acTerms == 0) {
      for (std::size_t row = 0; row < 8; ++row) block[row * 8 + column] = Truncate16(x[0]);
      continue;
    }
    Transform1d(x, y);
    for (std::size_t row = 0; row < 8; ++row) block[row * 8 + column] = Truncate16(y[row]);
  }
}

void RowPass(std::span<int16_t, 64> block) {
  std::array<U32, 8> x{};
  std::array<U32, 8> y{};
  for (std::size_t row = 0; row < 8; ++row) {
    const std::span<int16_t, 8> values = block.subspan(row * 8).first<8>();
    U32 acTerms = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      x[k] = static_cast<U32>(int32_t{values[k]});
      if (k != 0) acTerms |= x[k];
    }
    // With x1 .. x7 zero every product is 0 and all eight outputs equal x0.
    if (acTerms == 0) {
      std::fill(values.begin(), values.end(), RowOutput(x[0]));
      continue;
    }
    Transform1d(x, y);
    for (std::size_t k = 0; k < 8; ++k) values[k] = RowOutput(y[k]);
  }
}

}  // namespace

void InverseTransformBlock(std::span<int16_t, 64> block, const DequantTable& quant) {
  // A block of only DC: the column pass spreads the truncated product down column 0 and leaves the
  // other columns 0, so every row is constant and every sample is that value shifted by 3.
  if (AcTermsZero(block)) {
    const int16_t dc = Truncate16(Dequantise(block[0], quant[0]));
    std::fill(block.begin(), block.end(), RowOutput(static_cast<U32>(int32_t{dc})));
    return;
  }
  ColumnPass(block, quant);
  RowPass(block);
}

void InverseTransformBlockReference(std::span<int16_t, 64> block, const DequantTable& quant) {
  for (std::size_t column = 0; column < 8; ++column) {
    Row8 x{};
    bool acZero = true;
    for (std::size_t row = 0; row < 8; ++row) {
      x.v[row] = int32_t{block[row * 8 + column]} * int32_t{quant[row * 8 + column]};
      if (row != 0 && x.v[row] != 0) acZero = false;
    }
    const Row8 y = acZero ? Row8{{x.v[0], x.v[0], x.v[0], x.v[0], x.v[0], x.v[0], x.v[0], x.v[0]}}
                          : Transform1dReference(x);
    for (std::size_t row = 0; row < 8; ++row) block[row * 8 + column] = Truncate16(y.v[row]);
  }
  for (std::size_t row = 0; row < 8; ++row) {
    Row8 x{};
    for (std::size_t k = 0; k < 8; ++k) x.v[k] = block[row * 8 + k];
    const Row8 y = Transform1dReference(x);
    for (std::size_t k = 0; k < 8; ++k) block[row * 8 + k] = Truncate16(y.v[k] >> 3);
  }
}

}  // namespace reel
