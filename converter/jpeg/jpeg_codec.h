// The JPEG codec interface: a properties record and four operations over libjpeg-turbo.
//
// A caller zeroes a JpegCoreProperties, calls CodecInit, fills the picture ("dib") and JPEG
// ("jpg") fields, makes one CodecWrite or the two CodecRead calls, and ends with CodecFree. The
// encoder writes one baseline JFIF stream: SOI, APP0, a COM segment, one DQT per table, SOF0, one
// DHT per Huffman table (the typical tables of ITU-T T.81 Annex K), SOS, the entropy-coded data and
// EOI; no restart markers. Quantisation tables follow the quality exactly as JpegQuantTable says.
// Results: CodecOk (0) is success, negative values are errors, positive values are warnings that
// the library raised while it still finished; callers treat anything but CodecOk as failure.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "common/coefficient_set.h"

namespace reel {

enum JpegColor : int32_t {
  ColorRgb = 1,     // picture bytes red, green, blue
  ColorBgr = 2,     // picture bytes blue, green, red
  ColorYCbCr = 3,   // JPEG components Y, Cb, Cr (JFIF)
  ColorGrey = 4,    // one grey component
  ColorRgba = 5,    // picture bytes red, green, blue, alpha
  ColorYCbCrA = 6,  // JPEG components Y, Cb, Cr, alpha
  ColorOther = 255  // no colour conversion
};

enum JpegSubsampling : int32_t {
  SubsampleNone = 0,  // every component at full resolution (4:4:4)
  Subsample2x2 = 1,   // Cb and Cr sampled once per 2 x 2 luminance samples (4:2:0)
};

enum JpegReadMode : int32_t { ReadParamsFromMemory = 1, ReadWholeImageFromMemory = 3 };
enum JpegWriteMode : int32_t { WriteWholeImageToMemory = 9 };

enum JpegResult : int32_t {
  CodecOk = 0,
  CodecBadArgument = -1,   // a field is missing, inconsistent or out of range
  CodecLibraryError = -2,  // the library refused the stream or the picture
  CodecOutputFull = -3,    // the encoded stream did not fit the output buffer
  CodecWarning = 1,        // the library finished but reported damaged data
};

// State the library keeps between CodecInit and CodecFree; opaque to callers.
struct JpegCodecState;
struct JpegCodecStateDeleter {
  void operator()(JpegCodecState* state) const;
};

struct JpegCoreProperties {
  // Picture side. Rows are dibWidth x dibChannels bytes followed by dibPadBytes of padding; a
  // positive dibHeight means the rows are stored top-down.
  std::span<uint8_t> dibBytes;
  // CodecWrite reads the picture from here when it is set, else from dibBytes: a caller's picture
  // needs no writable copy.
  std::span<const uint8_t> dibSource;
  int32_t dibWidth = 0;
  int32_t dibHeight = 0;
  int32_t dibPadBytes = 0;
  int32_t dibChannels = 0;
  int32_t dibColor = 0;

  // JPEG side. CodecWrite writes into jpgBytes: on entry jpgSizeBytes is the capacity it may use,
  // on success the stream's length. The reads take the stream from jpgSource (length jpgSizeBytes).
  std::span<uint8_t> jpgBytes;
  std::span<const uint8_t> jpgSource;
  uint32_t jpgSizeBytes = 0;
  int32_t jpgWidth = 0;
  int32_t jpgHeight = 0;
  int32_t jpgChannels = 0;
  int32_t jpgColor = 0;
  int32_t jpgSubsampling = 0;
  int32_t jpgQuality = 0;
  int32_t restartInterval = 0;  // MCUs between restart markers; 0 = none

  std::unique_ptr<JpegCodecState, JpegCodecStateDeleter> state;
};

// The quality CodecInit sets; callers always override it.
inline constexpr int32_t kDefaultJpegQuality = 75;

int32_t CodecInit(JpegCoreProperties& properties);
int32_t CodecWrite(JpegCoreProperties& properties, int32_t mode);
// Whether CodecWriteKeepingCoefficients entropy-codes the blocks it keeps. kCoded is the plain way,
// CodecWrite's stream byte for byte. kSkippedWhenSafe leaves the coding out when an upper bound of
// the stream's length (every code word its table's longest, every byte stuffed) shows that the
// stream would fit: the result and the kept coefficients are the same, but no stream is written
// and jpgSizeBytes comes back as 0. When the bound does not show it, the picture is compressed
// again the plain way, stream included.
enum class EntropyPass { kCoded, kSkippedWhenSafe };

// CodecWrite that also keeps, as the encoder hands them to its entropy coder, the blocks it
// codes: on CodecOk `coefficients` holds what a baseline reader parses back from the stream (the
// picture's size, every block in natural order with an absolute DC, in coding order, and the two
// quantisation tables in zig-zag order) with the values still quantised: times their table entry
// they are the reader's dequantised values. The stream is not read again. The block store is
// reused from call to call. `pass` is the pass wanted on entry (see EntropyPass), and on return
// the one worth asking for with the next picture of a run: kSkippedWhenSafe when this picture was
// sure to fit, else kCoded, so that a run of dense pictures is not compressed twice each.
int32_t CodecWriteKeepingCoefficients(JpegCoreProperties& properties, int32_t mode, QuantisedSet& coefficients,
                                      EntropyPass& pass);
int32_t CodecRead(JpegCoreProperties& properties, int32_t mode);
int32_t CodecFree(JpegCoreProperties& properties);

// The quantisation table (0 luminance, 1 chrominance) the encoder writes for a quality, in natural
// order: quality limited to 1 ... 100, scale S = 5000 / q below 50 and 200 - 2q otherwise, each
// entry (base x S + 50) / 100 limited to 1 ... 255, base T.81 Annex K Table K.1 or K.2.
std::array<uint16_t, 64> JpegQuantTable(int table, int32_t quality);

}  // namespace reel
