// Coefficients to a baseline JPEG through libjpeg-turbo's transcoding interface.
//
// The library reports fatal errors through a callback that must not return; we leave it with
// longjmp back into the one function that called the library, which holds no objects with
// destructors. The stream goes to the library's growing memory destination, freed by the caller
// on every outcome.
#include "converter/jpeg/coefficient_jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <jpeglib.h>

namespace reel {
namespace {

constexpr uint32_t kMaxJpegDimension = 65500;  // JPEG_MAX_DIMENSION of the library
constexpr std::size_t kBlocksPerMacroblock = 6;
// Baseline limits for 8-bit samples (T.81 F.1.2): AC values need at most 10 bits, DC differences
// at most 11. A DC from 8-bit samples lies in -1024 ... 1016, so two of them differ by less than
// 2048 whatever the order of the blocks.
constexpr int kMaxAc = 1023;
constexpr int kLowestDc = -1024;
constexpr int kHighestDc = 1023;

struct WriterState {
  jpeg_error_mgr errors{};
  jpeg_compress_struct info{};
  std::jmp_buf jump{};
  // The coefficient arrays of the three components; the library keeps a pointer to this array
  // until the stream is finished.
  std::array<jvirt_barray_ptr, 3> arrays{};
  unsigned char* output = nullptr;  // malloc'd by the library's memory destination
  unsigned long outputSize = 0;
};

struct FreeBytes {
  void operator()(unsigned char* bytes) const { std::free(bytes); }
};

[[noreturn]] void ExitByJump(j_common_ptr info) {
  std::longjmp(static_cast<WriterState*>(info->client_data)->jump, 1);
}

void Silent(j_common_ptr) {}

uint32_t MacroblocksAcross(uint32_t width) { return (width + 15) / 16; }

std::optional<std::string> Refusal(const QuantisedPicture& p) {
  if (p.width == 0 || p.height == 0 || p.width > kMaxJpegDimension || p.height > kMaxJpegDimension) {
    return "picture size " + std::to_string(p.width) + "x" + std::to_string(p.height) + " cannot be a JPEG";
  }
  const uint64_t expected = uint64_t{MacroblocksAcross(p.width)} * MacroblocksAcross(p.height) * kBlocksPerMacroblock;
  if (p.blocks.size() != expected) {
    return std::to_string(p.blocks.size()) + " blocks where the picture size needs " + std::to_string(expected);
  }
  const auto zero = [](const std::array<uint8_t, 64>& table) {
    return std::find(table.begin(), table.end(), uint8_t{0}) != table.end();
  };
  if (zero(p.lumaQuant) || zero(p.chromaQuant)) return std::string("a quantisation value is 0");
  for (std::size_t b = 0; b < p.blocks.size(); ++b) {
    const std::array<int16_t, 64>& block = p.blocks[b];
    const bool dcFits = block[0] >= kLowestDc && block[0] <= kHighestDc;
    const bool acFits = std::all_of(block.begin() + 1, block.end(), [](int16_t v) { return v >= -kMaxAc && v <= kMaxAc; });
    if (!dcFits || !acFits) return "block " + std::to_string(b) + " holds a coefficient outside the baseline range";
  }
  return std::nullopt;
}

void Configure(jpeg_compress_struct& info, const QuantisedPicture& p) {
  info.image_width = p.width;
  info.image_height = p.height;
  info.input_components = 3;
  info.in_color_space = JCS_YCbCr;
  // YCbCr with component identifiers 1, 2, 3, quantisation tables 0, 1, 1, Huffman tables 0, 1, 1,
  // 4:2:0 sampling and a JFIF header: the library's defaults for this colour space.
  jpeg_set_defaults(&info);
  const std::array<const std::array<uint8_t, 64>*, 2> tables = {&p.lumaQuant, &p.chromaQuant};
  for (int t = 0; t < 2; ++t) {
    std::array<unsigned int, 64> natural{};
    std::copy(tables[t]->begin(), tables[t]->end(), natural.begin());
    // Scale 100 stores the values unchanged.
    jpeg_add_quant_table(&info, t, natural.data(), 100, TRUE);
  }
  info.optimize_coding = TRUE;
}

// The frame's blocks into the library's arrays: luminance block row r holds, for each macroblock
// of macroblock row r / 2, its blocks 2 (r % 2) and 2 (r % 2) + 1; chrominance row r holds block 4
// (Cb) or 5 (Cr) of each macroblock of row r.
void FillArrays(WriterState& s, const QuantisedPicture& p) {
  const uint32_t across = MacroblocksAcross(p.width);
  const uint32_t down = MacroblocksAcross(p.height);
  const auto common = reinterpret_cast<j_common_ptr>(&s.info);
  for (uint32_t r = 0; r < 2 * down; ++r) {
    JBLOCKROW row = (*s.info.mem->access_virt_barray)(common, s.arrays[0], r, 1, TRUE)[0];
    for (uint32_t c = 0; c < 2 * across; ++c) {
      const std::size_t block = (std::size_t{r / 2} * across + c / 2) * kBlocksPerMacroblock + 2 * (r % 2) + c % 2;
      std::copy(p.blocks[block].begin(), p.blocks[block].end(), row[c]);
    }
  }
  for (std::size_t component = 1; component < 3; ++component) {
    for (uint32_t r = 0; r < down; ++r) {
      JBLOCKROW row = (*s.info.mem->access_virt_barray)(common, s.arrays[component], r, 1, TRUE)[0];
      for (uint32_t c = 0; c < across; ++c) {
        const std::size_t block = (std::size_t{r} * across + c) * kBlocksPerMacroblock + 3 + component;
        std::copy(p.blocks[block].begin(), p.blocks[block].end(), row[c]);
      }
    }
  }
}

// Entropy-codes the picture; every exit of the library comes back here through the jump.
bool Compress(WriterState& s, const QuantisedPicture& p) {
  jpeg_compress_struct& info = s.info;
  info.err = jpeg_std_error(&s.errors);
  s.errors.error_exit = ExitByJump;
  s.errors.output_message = Silent;
  if (setjmp(s.jump) != 0) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  info.client_data = &s;
  jpeg_mem_dest(&info, &s.output, &s.outputSize);
  Configure(info, p);
  const uint32_t across = MacroblocksAcross(p.width);
  const uint32_t down = MacroblocksAcross(p.height);
  for (int c = 0; c < 3; ++c) {
    const JDIMENSION factor = c == 0 ? 2 : 1;
    s.arrays[c] = (*info.mem->request_virt_barray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, TRUE,
                                                   across * factor, down * factor, factor);
  }
  jpeg_write_coefficients(&info, s.arrays.data());
  FillArrays(s, p);
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

Result<std::vector<uint8_t>> WriteCoefficientJpeg(const QuantisedPicture& picture) {
  if (const auto refusal = Refusal(picture)) return MakeError(ErrorKind::kDamaged, "", *refusal);
  const auto state = std::make_unique<WriterState>();
  const bool written = Compress(*state, picture);
  const std::unique_ptr<unsigned char, FreeBytes> output(state->output);
  if (!written || output == nullptr) {
    return MakeError(ErrorKind::kCannotWrite, "", "the JPEG library could not write the picture");
  }
  return std::vector<uint8_t>(output.get(), output.get() + state->outputSize);
}

}  // namespace reel
