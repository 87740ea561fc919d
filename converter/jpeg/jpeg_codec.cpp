// The codec interface over libjpeg-turbo.
//
// The library reports fatal errors through a callback that must not return; we leave it with
// longjmp back into the one function that called the library. To keep that safe, everything the
// library touches lives in JpegCodecState on the heap, and the functions that set a jump point hold
// no objects with destructors. Output goes to a destination of fixed capacity: when the library
// asks for more room the write fails, so the buffer is never grown or overrun.
#include "converter/jpeg/jpeg_codec.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <jpeglib.h>
// The entropy coder's interface, through which the quantised blocks are kept as they are coded.
#include <jpegint.h>

namespace reel {

// An upper bound of a stream's length, made while its blocks go by without coding them: every
// code word is taken as long as its table's longest and every value as 16 bits, three zero-run
// codes (the most 63 positions hold) and an end of block in every block, and every byte as if a
// 0xFF needing a stuffed 0x00 (T.81 B.1.1.5). The marker segments before the first block are
// counted as written.
struct StreamBound {
  std::size_t headerBytes = 0;
  uint64_t bits = 0;
  uint32_t longestDcCode = 0;
  uint32_t longestAcCode = 0;

  void AddBlock(uint32_t nonZeroAc) {
    constexpr uint32_t kValueBits = 16;
    constexpr uint32_t kZeroRunsAndEndOfBlock = 4;
    bits += longestDcCode + kValueBits + (nonZeroAc + kZeroRunsAndEndOfBlock) * longestAcCode + nonZeroAc * kValueBits;
  }
  // Headers, the data with every byte stuffed, its last byte's padding, and EOI.
  uint64_t Bytes() const { return headerBytes + 2 * ((bits + 7) / 8 + 1) + 2; }
};

struct JpegCodecState {
  jpeg_error_mgr errors{};
  jpeg_destination_mgr destination{};
  jpeg_compress_struct compressor{};
  jpeg_decompress_struct decompressor{};
  std::jmp_buf jump{};
  std::span<uint8_t> output;
  bool outputFull = false;
  int warnings = 0;
  // Set while CodecWriteKeepingCoefficients runs: where the coded blocks go, the entropy coder's
  // own MCU function, whether it is left out, and what bounds the entropy-coded data's length.
  QuantisedSet* kept = nullptr;
  std::size_t blocksKept = 0;
  boolean (*codeMcu)(j_compress_ptr, JBLOCKROW*) = nullptr;
  bool skipEntropy = false;
  StreamBound bound;
};

void JpegCodecStateDeleter::operator()(JpegCodecState* state) const { std::default_delete<JpegCodecState>()(state); }

namespace {

// T.81 Annex K, Tables K.1 (luminance) and K.2 (chrominance), natural order.
constexpr std::array<uint16_t, 64> kLuminanceBase = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<uint16_t, 64> kChrominanceBase = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

constexpr std::string_view kComment = "Reelforge JPEG stage (libjpeg-turbo)";
constexpr int32_t kMaxJpegDimension = 65500;  // JPEG_MAX_DIMENSION of the library

JpegCodecState& StateOf(j_common_ptr info) { return *static_cast<JpegCodecState*>(info->client_data); }

[[noreturn]] void ExitByJump(j_common_ptr info) { std::longjmp(StateOf(info).jump, 1); }

// Level -1 is a warning (the library carries on past damaged data); other levels are traces.
void CountWarning(j_common_ptr info, int level) {
  if (level < 0) ++StateOf(info).warnings;
}

void Silent(j_common_ptr) {}

void InitDestination(j_compress_ptr info) {
  JpegCodecState& state = *static_cast<JpegCodecState*>(info->client_data);
  info->dest->next_output_byte = state.output.data();
  info->dest->free_in_buffer = state.output.size();
}

// The library has filled the whole capacity and wants more: the stream does not fit.
boolean RefuseMoreOutput(j_compress_ptr info) {
  JpegCodecState& state = *static_cast<JpegCodecState*>(info->client_data);
  state.outputFull = true;
  std::longjmp(state.jump, 1);
}

void TermDestination(j_compress_ptr) {}

void PrepareErrors(JpegCodecState& state) {
  jpeg_std_error(&state.errors);
  state.errors.error_exit = ExitByJump;
  state.errors.emit_message = CountWarning;
  state.errors.output_message = Silent;
  state.warnings = 0;
  state.outputFull = false;
}

std::size_t RowBytes(const JpegCoreProperties& p) {
  return static_cast<std::size_t>(p.dibWidth) * static_cast<std::size_t>(p.dibChannels) +
         static_cast<std::size_t>(p.dibPadBytes);
}

// The picture CodecWrite compresses.
std::span<const uint8_t> PictureToWrite(const JpegCoreProperties& p) {
  return p.dibSource.empty() ? std::span<const uint8_t>(p.dibBytes) : p.dibSource;
}

bool DibFits(const JpegCoreProperties& p, std::span<const uint8_t> bytes) {
  if (p.dibWidth <= 0 || p.dibHeight <= 0 || p.dibChannels <= 0 || p.dibPadBytes < 0) return false;
  if (p.dibWidth > kMaxJpegDimension || p.dibHeight > kMaxJpegDimension) return false;
  return bytes.size() >= RowBytes(p) * static_cast<std::size_t>(p.dibHeight);
}
bool DibFits(const JpegCoreProperties& p) { return DibFits(p, p.dibBytes); }

// Library input colour space for the picture bytes we compress.
J_COLOR_SPACE InputSpace(const JpegCoreProperties& p) {
  if (p.dibChannels == 3 && p.dibColor == ColorBgr) return JCS_EXT_BGR;
  if (p.dibChannels == 3 && p.dibColor == ColorRgb) return JCS_RGB;
  return JCS_UNKNOWN;
}

bool WriteArgumentsValid(const JpegCoreProperties& p) {
  if (!p.state || !DibFits(p, PictureToWrite(p)) || InputSpace(p) == JCS_UNKNOWN) return false;
  if (p.jpgColor != ColorYCbCr || p.jpgChannels != 3) return false;
  if (p.jpgSubsampling != Subsample2x2 && p.jpgSubsampling != SubsampleNone) return false;
  if (p.jpgWidth != p.dibWidth || p.jpgHeight != p.dibHeight) return false;
  if (p.restartInterval < 0 || p.restartInterval > 65535) return false;
  return p.jpgSizeBytes > 0 && p.jpgBytes.size() >= p.jpgSizeBytes;
}

void ConfigureCompressor(jpeg_compress_struct& info, const JpegCoreProperties& p) {
  info.image_width = static_cast<JDIMENSION>(p.dibWidth);
  info.image_height = static_cast<JDIMENSION>(p.dibHeight);
  info.input_components = p.dibChannels;
  info.in_color_space = InputSpace(p);
  jpeg_set_defaults(&info);
  // YCbCr with component identifiers 1, 2, 3, quantisation tables 0, 1, 1, Huffman tables 0, 1, 1
  // and a JFIF header: the library's defaults for this colour space.
  jpeg_set_colorspace(&info, JCS_YCbCr);
  const int luminanceFactor = p.jpgSubsampling == Subsample2x2 ? 2 : 1;
  info.comp_info[0].h_samp_factor = luminanceFactor;
  info.comp_info[0].v_samp_factor = luminanceFactor;
  for (int c = 1; c < 3; ++c) {
    info.comp_info[c].h_samp_factor = 1;
    info.comp_info[c].v_samp_factor = 1;
  }
  // Our own tables, handed over with scale 100 so the library stores them unchanged.
  for (int table = 0; table < 2; ++table) {
    const std::array<uint16_t, 64> values = JpegQuantTable(table, p.jpgQuality);
    std::array<unsigned int, 64> natural{};
    std::copy(values.begin(), values.end(), natural.begin());
    jpeg_add_quant_table(&info, table, natural.data(), 100, TRUE);
  }
  info.optimize_coding = FALSE;  // the typical tables of Annex K
  info.restart_interval = static_cast<unsigned int>(p.restartInterval);
  info.restart_in_rows = 0;
}

// Non-zero AC values of a block (natural order, DC at 0). Narrowing with signed saturation keeps
// every non-zero value non-zero.
uint32_t NonZeroAcCount(const JCOEF* block) {
  uint32_t count = 0;
#if defined(__SSE2__)
  // Each byte lane counts its zeros (0 ... 4), and one sum of absolute differences adds the lanes
  // up.
  const __m128i zero = _mm_setzero_si128();
  __m128i lanes = zero;
  for (std::size_t part = 0; part < 4; ++part) {
    const auto* at = reinterpret_cast<const __m128i*>(block + part * 16);
    const __m128i bytes = _mm_packs_epi16(_mm_loadu_si128(at), _mm_loadu_si128(at + 1));
    lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, zero));
  }
  const __m128i sums = _mm_sad_epu8(lanes, zero);
  count = DCTSIZE2 - static_cast<uint32_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
#else
  for (std::size_t i = 0; i < DCTSIZE2; ++i) count += block[i] != 0;
#endif
  return count - (block[0] != 0);
}

// The longest code word of a Huffman table (T.81 C: BITS[l] counts the codes of length l).
uint32_t LongestCode(const JHUFF_TBL* table) {
  uint32_t longest = 0;
  for (uint32_t length = 1; length <= 16; ++length) {
    if (table != nullptr && table->bits[length] != 0) longest = length;
  }
  return table == nullptr ? 16 : longest;
}

// The entropy coder's MCU step (unless it is left out), then the same MCU's blocks copied into
// the kept set as the coder had them, and counted into the stream's bound. A step that did not
// finish (it never happens with our destination, which fails by jumping) keeps nothing, as the
// coefficient controller hands the same MCU over again.
boolean CodeAndKeepMcu(j_compress_ptr info, JBLOCKROW* mcu) {
  static_assert(sizeof(JCOEF) == sizeof(int16_t) && std::is_signed_v<JCOEF> && DCTSIZE2 == 64);
  JpegCodecState& state = *static_cast<JpegCodecState*>(info->client_data);
  if (state.blocksKept == 0) state.bound.headerBytes = state.output.size() - info->dest->free_in_buffer;
  if (!state.skipEntropy && !state.codeMcu(info, mcu)) return FALSE;
  std::vector<QuantisedBlock>& blocks = state.kept->blocks;
  const std::size_t count = std::min(static_cast<std::size_t>(info->blocks_in_MCU), blocks.size() - state.blocksKept);
  for (std::size_t b = 0; b < count; ++b) {
    const JCOEF* from = mcu[b][0];
    std::memcpy(blocks[state.blocksKept++].data(), from, sizeof(QuantisedBlock));
    state.bound.AddBlock(NonZeroAcCount(from));
  }
  return TRUE;
}

// Called once the compressor has started its one pass: the entropy coder's MCU function is
// wrapped, the block store sized for the scan, the tables noted as the stream's DQT gives them.
void KeepCoefficients(JpegCodecState& state, jpeg_compress_struct& info) {
  QuantisedSet& set = *state.kept;
  set.width = info.image_width;
  set.height = info.image_height;
  set.blocks.resize(std::size_t{info.MCUs_per_row} * info.MCU_rows_in_scan * static_cast<std::size_t>(info.blocks_in_MCU));
  state.blocksKept = 0;
  for (int table = 0; table < 2; ++table) {
    const JQUANT_TBL* values = info.quant_tbl_ptrs[table];
    for (std::size_t k = 0; k < 64; ++k) {
      set.quantTables[static_cast<std::size_t>(table)][k] = values == nullptr ? 0 : values->quantval[jpeg_natural_order[k]];
    }
  }
  state.bound = StreamBound{};
  for (int c = 0; c < info.comps_in_scan; ++c) {
    const jpeg_component_info& component = *info.cur_comp_info[c];
    state.bound.longestDcCode = std::max(state.bound.longestDcCode, LongestCode(info.dc_huff_tbl_ptrs[component.dc_tbl_no]));
    state.bound.longestAcCode = std::max(state.bound.longestAcCode, LongestCode(info.ac_huff_tbl_ptrs[component.ac_tbl_no]));
  }
  state.codeMcu = info.entropy->encode_mcu;
  info.entropy->encode_mcu = CodeAndKeepMcu;
}

// Compresses the picture; every exit of the library comes back here through the jump.
int32_t Compress(JpegCodecState& state, const JpegCoreProperties& p) {
  jpeg_compress_struct& info = state.compressor;
  info.err = &state.errors;
  if (setjmp(state.jump) != 0) {
    jpeg_destroy_compress(&info);
    return state.outputFull ? CodecOutputFull : CodecLibraryError;
  }
  jpeg_create_compress(&info);
  info.client_data = &state;
  state.destination.init_destination = InitDestination;
  state.destination.empty_output_buffer = RefuseMoreOutput;
  state.destination.term_destination = TermDestination;
  info.dest = &state.destination;
  ConfigureCompressor(info, p);
  jpeg_start_compress(&info, TRUE);
  if (state.kept != nullptr) KeepCoefficients(state, info);
  jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(kComment.data()),
                    static_cast<unsigned int>(kComment.size()));
  const std::size_t rowBytes = RowBytes(p);
  const std::span<const uint8_t> picture = PictureToWrite(p);
  while (info.next_scanline < info.image_height) {
    // The library's row type is not const, but compression only reads the rows.
    JSAMPROW row = const_cast<uint8_t*>(picture.data() + std::size_t{info.next_scanline} * rowBytes);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return state.warnings == 0 ? CodecOk : CodecWarning;
}

// Opens the stream and reads its header into the decompressor. Must be called from a function
// that has set the jump point.
void OpenSource(JpegCodecState& state, std::span<const uint8_t> source) {
  jpeg_decompress_struct& info = state.decompressor;
  jpeg_create_decompress(&info);
  info.client_data = &state;
  jpeg_mem_src(&info, source.data(), static_cast<unsigned long>(source.size()));
  jpeg_read_header(&info, TRUE);
}

int32_t ColorOfStream(const jpeg_decompress_struct& info) {
  switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE: return ColorGrey;
    case JCS_YCbCr: return ColorYCbCr;
    case JCS_RGB: return ColorRgb;
    default: return info.num_components == 4 ? ColorYCbCrA : ColorOther;
  }
}

int32_t ReadParams(JpegCodecState& state, JpegCoreProperties& p) {
  jpeg_decompress_struct& info = state.decompressor;
  info.err = &state.errors;
  if (setjmp(state.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return CodecLibraryError;
  }
  OpenSource(state, p.jpgSource.first(p.jpgSizeBytes));
  p.jpgWidth = static_cast<int32_t>(info.image_width);
  p.jpgHeight = static_cast<int32_t>(info.image_height);
  p.jpgChannels = info.num_components;
  p.jpgColor = ColorOfStream(info);
  jpeg_destroy_decompress(&info);
  return state.warnings == 0 ? CodecOk : CodecWarning;
}

// Library colour spaces for a decode set-up; false when the pair is not one we offer.
bool DecodeSpaces(const JpegCoreProperties& p, int components, J_COLOR_SPACE& in, J_COLOR_SPACE& out) {
  if (p.jpgColor == ColorGrey && components == 1 && p.dibColor == ColorRgb && p.dibChannels == 3) {
    in = JCS_GRAYSCALE;
    out = JCS_RGB;
    return true;
  }
  if (p.jpgColor == ColorYCbCr && components == 3 && p.dibColor == ColorRgb && p.dibChannels == 3) {
    out = JCS_RGB;
    return true;  // the library's own guess (JFIF YCbCr, or RGB by an Adobe marker) stands
  }
  // Four components and unconverted components are taken raw; the YCbCrA conversion is ours.
  if ((p.jpgColor == ColorYCbCrA && components == 4 && p.dibColor == ColorRgba && p.dibChannels == 4) ||
      (p.jpgColor == ColorOther && p.dibColor == ColorOther && p.dibChannels == components)) {
    in = JCS_UNKNOWN;
    out = JCS_UNKNOWN;
    return true;
  }
  return false;
}

uint8_t ClampSample(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

// JFIF YCbCr to RGB in 16-bit fixed point, rounded; the alpha byte is kept.
void YCbCrToRgb(std::span<uint8_t> pixel) {
  const int32_t y = pixel[0] << 16;
  const int32_t cb = pixel[1] - 128;
  const int32_t cr = pixel[2] - 128;
  constexpr int32_t kHalf = 1 << 15;
  pixel[0] = ClampSample((y + 91881 * cr + kHalf) >> 16);
  pixel[1] = ClampSample((y - 22554 * cb - 46802 * cr + kHalf) >> 16);
  pixel[2] = ClampSample((y + 116130 * cb + kHalf) >> 16);
}

int32_t Decompress(JpegCodecState& state, JpegCoreProperties& p) {
  jpeg_decompress_struct& info = state.decompressor;
  info.err = &state.errors;
  if (setjmp(state.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return CodecLibraryError;
  }
  OpenSource(state, p.jpgSource.first(p.jpgSizeBytes));
  J_COLOR_SPACE in = info.jpeg_color_space;
  J_COLOR_SPACE out = JCS_UNKNOWN;
  const bool usable = DecodeSpaces(p, info.num_components, in, out) &&
                      p.dibWidth == static_cast<int32_t>(info.image_width) &&
                      p.dibHeight == static_cast<int32_t>(info.image_height) && DibFits(p);
  if (!usable) {
    jpeg_destroy_decompress(&info);
    return CodecBadArgument;
  }
  info.jpeg_color_space = in;
  info.out_color_space = out;
  jpeg_start_decompress(&info);
  const std::size_t rowBytes = RowBytes(p);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = p.dibBytes.data() + std::size_t{info.output_scanline} * rowBytes;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (p.jpgColor == ColorYCbCrA) {
    for (int32_t r = 0; r < p.dibHeight; ++r) {
      auto row = p.dibBytes.subspan(static_cast<std::size_t>(r) * rowBytes, rowBytes);
      for (int32_t x = 0; x < p.dibWidth; ++x) YCbCrToRgb(row.subspan(static_cast<std::size_t>(x) * 4, 4));
    }
  }
  return state.warnings == 0 ? CodecOk : CodecWarning;
}

}  // namespace

std::array<uint16_t, 64> JpegQuantTable(int table, int32_t quality) {
  const int32_t q = std::clamp(quality, 1, 100);
  const int32_t scale = q < 50 ? 5000 / q : 200 - 2 * q;
  const std::array<uint16_t, 64>& base = table == 0 ? kLuminanceBase : kChrominanceBase;
  std::array<uint16_t, 64> result{};
  for (std::size_t i = 0; i < 64; ++i) {
    result[i] = static_cast<uint16_t>(std::clamp((base[i] * scale + 50) / 100, 1, 255));
  }
  return result;
}

int32_t CodecInit(JpegCoreProperties& properties) {
  properties.state.reset(std::make_unique<JpegCodecState>().release());
  properties.jpgQuality = kDefaultJpegQuality;
  properties.restartInterval = 0;
  return CodecOk;
}

int32_t CodecWrite(JpegCoreProperties& properties, int32_t mode) {
  if (mode != WriteWholeImageToMemory || !WriteArgumentsValid(properties)) return CodecBadArgument;
  JpegCodecState& state = *properties.state;
  PrepareErrors(state);
  state.output = properties.jpgBytes.first(properties.jpgSizeBytes);
  const int32_t result = Compress(state, properties);
  if (result == CodecOk) {
    properties.jpgSizeBytes =
        static_cast<uint32_t>(state.output.size() - state.destination.free_in_buffer);
  }
  return result;
}

namespace {

int32_t WriteKeeping(JpegCoreProperties& properties, int32_t mode, QuantisedSet& coefficients, bool skipEntropy) {
  properties.state->kept = &coefficients;
  properties.state->skipEntropy = skipEntropy;
  const int32_t result = CodecWrite(properties, mode);
  properties.state->kept = nullptr;
  properties.state->skipEntropy = false;
  if (result == CodecOk) coefficients.blocks.resize(properties.state->blocksKept);
  return result;
}

}  // namespace

int32_t CodecWriteKeepingCoefficients(JpegCoreProperties& properties, int32_t mode, QuantisedSet& coefficients,
                                      EntropyPass& pass) {
  if (!properties.state) return CodecBadArgument;
  // Restart markers come out of the entropy coder, which the bound does not count.
  const bool skip = pass == EntropyPass::kSkippedWhenSafe && properties.restartInterval == 0;
  const uint32_t capacity = properties.jpgSizeBytes;
  int32_t result = WriteKeeping(properties, mode, coefficients, skip);
  const bool fits = properties.state->bound.Bytes() < capacity;
  if (result == CodecOk && skip && !fits) {
    // Not sure to fit: the stream is coded after all, to learn whether it does.
    properties.jpgSizeBytes = capacity;
    result = WriteKeeping(properties, mode, coefficients, false);
  }
  pass = result == CodecOk && fits ? EntropyPass::kSkippedWhenSafe : EntropyPass::kCoded;
  if (result == CodecOk && skip && fits) properties.jpgSizeBytes = 0;
  return result;
}

int32_t CodecRead(JpegCoreProperties& properties, int32_t mode) {
  if (!properties.state || properties.jpgSizeBytes == 0 ||
      properties.jpgSource.size() < properties.jpgSizeBytes) {
    return CodecBadArgument;
  }
  JpegCodecState& state = *properties.state;
  PrepareErrors(state);
  if (mode == ReadParamsFromMemory) return ReadParams(state, properties);
  if (mode == ReadWholeImageFromMemory) return Decompress(state, properties);
  return CodecBadArgument;
}

int32_t CodecFree(JpegCoreProperties& properties) {
  properties.state.reset();
  return CodecOk;
}

}  // namespace reel
