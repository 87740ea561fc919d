#include "player/video/inverse_transform.h"

#include <algorithm>
#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define REEL_HAVE_AVX2_TRANSFORM 1
#endif

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

// With kUpperZero the caller knows x4 .. x7 are 0; the compiler then drops every term they feed
// (a product of 0 is 0), which gives the same results with half the work.
template <bool kUpperZero>
[[gnu::always_inline]] inline void Transform1d(std::array<U32, 8> v, std::array<U32, 8>& y) {
  if constexpr (kUpperZero) v[4] = v[5] = v[6] = v[7] = 0;
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

constexpr uint64_t kColumn0 = 0x0101010101010101ull;  // bit r * 8 of each row r
constexpr uint64_t kLowerRows = 0xFFFFFFFF00000000ull;

// Pass 1 on one column. A column with no AC terms becomes its DC term throughout (the transform
// would give the same); with kUpperZero, rows 4 .. 7 of the column are known to be 0.
template <bool kUpperZero>
void TransformColumn(std::span<int16_t, 64> block, const DequantTable& quant, std::size_t column) {
  std::array<U32, 8> x{};
  std::array<U32, 8> y{};
  constexpr std::size_t kRows = kUpperZero ? 4 : 8;
  for (std::size_t row = 0; row < kRows; ++row) {
    x[row] = Dequantise(block[row * 8 + column], quant[row * 8 + column]);
  }
  Transform1d<kUpperZero>(x, y);
  for (std::size_t row = 0; row < 8; ++row) block[row * 8 + column] = Truncate16(y[row]);
}

void SpreadColumnDc(std::span<int16_t, 64> block, const DequantTable& quant, std::size_t column) {
  const int16_t value = Truncate16(Dequantise(block[column], quant[column]));
  for (std::size_t row = 0; row < 8; ++row) block[row * 8 + column] = value;
}

// Pass 1 over the columns `mask` says may hold something; an all-zero column gives zeros, which
// the block already holds. Returns the columns that may be non-zero afterwards (bit c).
uint32_t ColumnPass(std::span<int16_t, 64> block, const DequantTable& quant, uint64_t mask) {
  uint32_t usedColumns = 0;
  for (std::size_t column = 0; column < 8; ++column) {
    const uint64_t bits = mask & (kColumn0 << column);
    if (bits == 0) continue;
    usedColumns |= 1u << column;
    if ((bits >> 8) == 0) {
      SpreadColumnDc(block, quant, column);
    } else if ((bits & kLowerRows) == 0) {
      TransformColumn<true>(block, quant, column);
    } else {
      TransformColumn<false>(block, quant, column);
    }
  }
  return usedColumns;
}

// Pass 2 on every row; with kUpperZero, columns 4 .. 7 are known to be 0.
template <bool kUpperZero>
void TransformRows(std::span<int16_t, 64> block) {
  std::array<U32, 8> x{};
  std::array<U32, 8> y{};
  for (std::size_t row = 0; row < 8; ++row) {
    const std::span<int16_t, 8> values = block.subspan(row * 8).first<8>();
    for (std::size_t k = 0; k < 8; ++k) x[k] = static_cast<U32>(int32_t{values[k]});
    Transform1d<kUpperZero>(x, y);
    for (std::size_t k = 0; k < 8; ++k) values[k] = RowOutput(y[k]);
  }
}

// Pass 2 when only column 0 may be non-zero: every product of a row is 0, so all eight outputs
// equal its first value.
void SpreadRows(std::span<int16_t, 64> block) {
  for (std::size_t row = 0; row < 8; ++row) {
    const std::span<int16_t, 8> values = block.subspan(row * 8).first<8>();
    std::fill(values.begin(), values.end(), RowOutput(static_cast<U32>(int32_t{values[0]})));
  }
}

#if defined(REEL_HAVE_AVX2_TRANSFORM)
// The AVX2 transform: eight 32-bit lanes, one per column in pass 1 and one per row in pass 2.
// _mm256_mullo_epi32 keeps the low 32 bits of each product, which is the plain arithmetic's
// wrap-around, and _mm256_srai_epi32 is its arithmetic shift; adds and subtracts wrap alike. A
// column without AC terms needs no shortcut: the transform of (x0, 0, ..., 0) is x0 in every row.
struct Lanes8 {
  __m256i v[8];
};

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i MulAvx2(__m256i a, int32_t factor) {
  return _mm256_srai_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(factor)), 16);
}

// The low 16 bits of each lane, sign-extended: the truncation to 16 bits of a stored value.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Truncate16Avx2(__m256i a) {
  return _mm256_srai_epi32(_mm256_slli_epi32(a, 16), 16);
}

// With kUpperZero the inputs 4 .. 7 are known to be 0, and the compiler drops the products and sums
// they feed, as in the plain path.
template <bool kUpperZero>
[[gnu::target("avx2"), gnu::always_inline]] inline Lanes8 Transform1dAvx2(const Lanes8& x) {
  Lanes8 input = x;
  if constexpr (kUpperZero) {
    for (std::size_t k = 4; k < 8; ++k) input.v[k] = _mm256_setzero_si256();
  }
  const auto& v = input.v;
  const __m256i z = MulAvx2(_mm256_add_epi32(v[2], v[6]), kF0541);
  const __m256i t2 = _mm256_add_epi32(z, MulAvx2(v[6], kFm1847));
  const __m256i t3 = _mm256_add_epi32(z, MulAvx2(v[2], kF0765));
  const __m256i t0 = _mm256_add_epi32(v[0], v[4]);
  const __m256i t1 = _mm256_sub_epi32(v[0], v[4]);
  const __m256i t10 = _mm256_add_epi32(t0, t3);
  const __m256i t13 = _mm256_sub_epi32(t0, t3);
  const __m256i t11 = _mm256_add_epi32(t1, t2);
  const __m256i t12 = _mm256_sub_epi32(t1, t2);

  const __m256i z5 = MulAvx2(
      _mm256_add_epi32(_mm256_add_epi32(v[1], v[3]), _mm256_add_epi32(v[5], v[7])), kF1175);
  const __m256i z1 = MulAvx2(_mm256_add_epi32(v[1], v[7]), kFm0899);
  const __m256i z2 = MulAvx2(_mm256_add_epi32(v[3], v[5]), kFm2562);
  const __m256i z3 = _mm256_add_epi32(z5, MulAvx2(_mm256_add_epi32(v[3], v[7]), kFm1961));
  const __m256i z4 = _mm256_add_epi32(z5, MulAvx2(_mm256_add_epi32(v[1], v[5]), kFm0390));
  const __m256i o0 = _mm256_add_epi32(_mm256_add_epi32(MulAvx2(v[7], kF0298), z1), z3);
  const __m256i o1 = _mm256_add_epi32(_mm256_add_epi32(MulAvx2(v[5], kF2053), z2), z4);
  const __m256i o2 = _mm256_add_epi32(_mm256_add_epi32(MulAvx2(v[3], kF3072), z2), z3);
  const __m256i o3 = _mm256_add_epi32(_mm256_add_epi32(MulAvx2(v[1], kF1501), z1), z4);

  return Lanes8{{_mm256_add_epi32(t10, o3), _mm256_add_epi32(t11, o2), _mm256_add_epi32(t12, o1),
                 _mm256_add_epi32(t13, o0), _mm256_sub_epi32(t13, o0), _mm256_sub_epi32(t12, o1),
                 _mm256_sub_epi32(t11, o2), _mm256_sub_epi32(t10, o3)}};
}

// Rows become columns: lane r of result k is lane k of input r.
[[gnu::target("avx2"), gnu::always_inline]] inline Lanes8 TransposeAvx2(const Lanes8& r) {
  const auto& v = r.v;
  const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(v[0], v[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(v[2], v[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]);
  const __m256i t5 = _mm256_unpackhi_epi32(v[4], v[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]);
  const __m256i t7 = _mm256_unpackhi_epi32(v[6], v[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
  const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
  const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
  const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
  const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
  return Lanes8{{_mm256_permute2x128_si256(u0, u4, 0x20), _mm256_permute2x128_si256(u1, u5, 0x20),
                 _mm256_permute2x128_si256(u2, u6, 0x20), _mm256_permute2x128_si256(u3, u7, 0x20),
                 _mm256_permute2x128_si256(u0, u4, 0x31), _mm256_permute2x128_si256(u1, u5, 0x31),
                 _mm256_permute2x128_si256(u2, u6, 0x31), _mm256_permute2x128_si256(u3, u7, 0x31)}};
}

// kLowerRowsZero: rows 4 .. 7 of the coefficients are 0; kRightColumnsZero: columns 4 .. 7 are,
// and stay so after pass 1, which works column by column.
template <bool kLowerRowsZero, bool kRightColumnsZero>
[[gnu::target("avx2")]] void InverseTransformBlockAvx2(std::span<int16_t, 64> block,
                                                        const DequantTable& quant) {
  Lanes8 rows{};
  for (std::size_t r = 0; r < (kLowerRowsZero ? 4 : 8); ++r) {
    const __m256i coefficients = _mm256_cvtepi16_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.data() + r * 8)));
    const __m256i factors = _mm256_cvtepu16_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant.data() + r * 8)));
    rows.v[r] = _mm256_mullo_epi32(coefficients, factors);
  }
  Lanes8 columnPass = Transform1dAvx2<kLowerRowsZero>(rows);
  for (__m256i& lane : columnPass.v) lane = Truncate16Avx2(lane);
  Lanes8 rowPass = Transform1dAvx2<kRightColumnsZero>(TransposeAvx2(columnPass));
  for (__m256i& lane : rowPass.v) lane = Truncate16Avx2(_mm256_srai_epi32(lane, 3));
  const Lanes8 out = TransposeAvx2(rowPass);
  for (std::size_t r = 0; r < 8; r += 2) {
    // packs works within each 128-bit half; the permute puts row r before row r + 1. The values
    // were truncated to 16 bits already, so the saturating pack changes none of them.
    const __m256i packed =
        _mm256_permute4x64_epi64(_mm256_packs_epi32(out.v[r], out.v[r + 1]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block.data() + r * 8), packed);
  }
}
#endif

}  // namespace

int16_t DcOnlySample(int16_t coefficient, uint16_t factor) {
  const int16_t columnValue = Truncate16(Dequantise(coefficient, factor));
  return RowOutput(static_cast<U32>(int32_t{columnValue}));
}

uint64_t NonZeroMask(std::span<const int16_t, 64> block) {
  uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; ++i) mask |= uint64_t{block[i] != 0} << i;
  return mask;
}

void InverseTransformBlock(std::span<int16_t, 64> block, const DequantTable& quant,
                           uint64_t nonZeroMask, [[maybe_unused]] Kernels kernels) {
  if (kernels == Kernels::kFastest && (nonZeroMask & ~uint64_t{1}) == 0) {
    std::fill(block.begin(), block.end(), DcOnlySample(block[0], quant[0]));
    return;
  }
#if defined(REEL_HAVE_AVX2_TRANSFORM)
  if (kernels == Kernels::kFastest && CpuHasAvx2()) {
    constexpr uint64_t kRightColumns = 0xF0F0F0F0F0F0F0F0ull;
    const bool lowerRowsZero = (nonZeroMask & kLowerRows) == 0;
    const bool rightColumnsZero = (nonZeroMask & kRightColumns) == 0;
    if (lowerRowsZero && rightColumnsZero) {
      InverseTransformBlockAvx2<true, true>(block, quant);
    } else if (lowerRowsZero) {
      InverseTransformBlockAvx2<true, false>(block, quant);
    } else if (rightColumnsZero) {
      InverseTransformBlockAvx2<false, true>(block, quant);
    } else {
      InverseTransformBlockAvx2<false, false>(block, quant);
    }
    return;
  }
#endif
  const uint32_t usedColumns = ColumnPass(block, quant, nonZeroMask);
  if ((usedColumns & ~1u) == 0) {
    SpreadRows(block);
  } else if ((usedColumns & 0xF0u) == 0) {
    TransformRows<true>(block);
  } else {
    TransformRows<false>(block);
  }
}

void InverseTransformBlock(std::span<int16_t, 64> block, const DequantTable& quant) {
  InverseTransformBlock(block, quant, NonZeroMask(block));
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
