// Small hand-made streams for the reader's rules that real encoders never exercise: odd Huffman
// tables, zero runs, refused segments and layouts. Each stream is built marker by marker.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <vector>

#include "common/zigzag.h"
#include "converter/jpeg/jpeg_coef_reader.h"

namespace reel {
namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }

Bytes Segment(uint8_t marker, const Bytes& body) {
  Bytes out = {0xFF, marker, static_cast<uint8_t>((body.size() + 2) >> 8), static_cast<uint8_t>(body.size() + 2)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// DQT: table `id`, 8-bit entries all `value`.
Bytes Dqt(uint8_t id, uint8_t value) {
  Bytes body = {id};
  body.insert(body.end(), 64, value);
  return Segment(0xDB, body);
}

// DHT group: class/id byte, 16 counts, the symbols.
Bytes HuffmanGroup(uint8_t classAndId, std::initializer_list<uint8_t> counts, std::initializer_list<uint8_t> symbols) {
  Bytes group = {classAndId};
  group.insert(group.end(), counts);
  group.resize(17, 0);
  group.insert(group.end(), symbols);
  return group;
}

// SOF0 8 x 8 (or given size), three components with the given sampling bytes, tables 0, 1, 1.
Bytes Sof(uint16_t width, uint16_t height, uint8_t lumaSampling, uint8_t chromaSampling = 0x11) {
  return Segment(0xC0, {8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                        static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 3, 1, lumaSampling, 0, 2,
                        chromaSampling, 0, 3, chromaSampling, 0});
}

Bytes Sos(std::initializer_list<uint8_t> componentsAndTables) {
  Bytes body = {static_cast<uint8_t>(componentsAndTables.size() / 2)};
  body.insert(body.end(), componentsAndTables);
  Append(body, {0, 63, 0});
  return Segment(0xDA, body);
}

// A 4:4:4 8 x 8 stream (three blocks, all using DC table 0 and AC table 0) with the given tables
// and entropy-coded bytes.
Bytes Stream(const Bytes& huffmanBody, const Bytes& data, uint8_t quant = 2) {
  Bytes out = {0xFF, 0xD8};
  const Bytes dqt0 = Dqt(0, quant);
  const Bytes dqt1 = Dqt(1, quant);
  out.insert(out.end(), dqt0.begin(), dqt0.end());
  out.insert(out.end(), dqt1.begin(), dqt1.end());
  const Bytes sof = Sof(8, 8, 0x11);
  out.insert(out.end(), sof.begin(), sof.end());
  const Bytes dht = Segment(0xC4, huffmanBody);
  out.insert(out.end(), dht.begin(), dht.end());
  const Bytes sos = Sos({1, 0x00, 2, 0x00, 3, 0x00});
  out.insert(out.end(), sos.begin(), sos.end());
  out.insert(out.end(), data.begin(), data.end());
  Append(out, {0xFF, 0xD9});
  return out;
}

// DC table 0: one 1-bit code "0" for size 0 (DC difference 0).
Bytes ZeroDcTable() { return HuffmanGroup(0x00, {1}, {0x00}); }

struct ReadBack {
  int32_t blockCount;
  std::vector<CoefficientBlock> blocks;
  std::optional<ErrorKind> refusal;  // none when the stream was decoded whole
};

ReadBack Read(const Bytes& stream) {
  CByteSource source(stream);
  CJpegCoefReader reader;
  const Status decoded = reader.Decode(source);
  return {reader.BlockCount(), std::vector<CoefficientBlock>(reader.Blocks().begin(), reader.Blocks().end()),
          decoded ? std::nullopt : std::optional<ErrorKind>(decoded.kind())};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(CoefReaderFixture, ZeroRunThenValueLandsSixteenPositionsOn) {
  // AC table 0: "0" = ZRL (0xF0), "10" = size 1, "11" = EOB.
  const Bytes tables = Concat({ZeroDcTable(), HuffmanGroup(0x10, {1, 2}, {0xF0, 0x01, 0x00})});
  // Per block: DC "0"; ZRL "0"; size 1 "10" + value bit "1" (+1); EOB "11" -> 0 0 10 1 11 = 7 bits.
  // Three blocks: 0010111 0010111 0010111, padded with 1-bits: 00101110 01011100 10111111.
  const ReadBack result = Read(Stream(tables, {0x2E, 0x5C, 0xBF}));
  ASSERT_EQ(result.blockCount, 3);
  CoefficientBlock expected{};
  expected[kZigZag[17]] = 2;  // value 1 times the quantisation value 2
  for (const CoefficientBlock& block : result.blocks) EXPECT_EQ(block, expected);
}

TEST(CoefReaderFixture, ZeroRunPastTheLastPositionEndsTheBlock) {
  // AC table 0: "0" = ZRL, "1" = run 15 then size 1 (0xF1).
  const Bytes tables = Concat({ZeroDcTable(), HuffmanGroup(0x10, {2}, {0xF0, 0xF1})});
  // Per block: DC "0"; ZRL x3 (k = 49); 0xF1 "1" + value bit "1": 49 + 15 > 63 ends the block.
  // 000011 000011 000011 + padding: 00001100 00110000 11111111.
  const ReadBack result = Read(Stream(tables, {0x0C, 0x30, 0xFF, 0x00}));
  ASSERT_EQ(result.blockCount, 3);
  for (const CoefficientBlock& block : result.blocks) EXPECT_EQ(block, CoefficientBlock{});
}

TEST(CoefReaderFixture, BlockEndingAtPosition63NeedsNoEndOfBlock) {
  // AC table 0: "0" = size 1 (0x01), "1" = EOB. DC table: "0" = size 0, "1" = size 1.
  const Bytes tables = Concat({HuffmanGroup(0x00, {2}, {0x00, 0x01}), HuffmanGroup(0x10, {2}, {0x01, 0x00})});
  // Block 1: DC "1" + bit "1" (+1); 63 x ("0" + bit "1") = 63 coefficients of +1; no EOB.
  // Blocks 2 and 3: DC "0", EOB "1".
  std::vector<int> bits = {1, 1};
  for (int i = 0; i < 63; ++i) bits.insert(bits.end(), {0, 1});
  bits.insert(bits.end(), {0, 1, 0, 1});
  while (bits.size() % 8 != 0) bits.push_back(1);
  Bytes data;
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    uint8_t byte = 0;
    for (std::size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte * 2 + bits[i + b]);
    data.push_back(byte);
    if (byte == 0xFF) data.push_back(0x00);
  }
  const ReadBack result = Read(Stream(tables, data));
  ASSERT_EQ(result.blockCount, 3);
  CoefficientBlock full;
  full.fill(2);
  EXPECT_EQ(result.blocks[0], full);
  // Blocks 2 and 3 are Cb and Cr: their DC chains are their own and start at 0.
  EXPECT_EQ(result.blocks[1], CoefficientBlock{});
  EXPECT_EQ(result.blocks[2], CoefficientBlock{});
}

TEST(CoefReaderFixture, RefusedSegmentsAndLayoutsGiveNoBlocks) {
  const Bytes goodTables = Concat({ZeroDcTable(), HuffmanGroup(0x10, {1}, {0x00})});
  const Bytes data = {0x0F};  // DC 0, EOB per block ("00" x 3, then 1-bits)
  const auto build = [&](const Bytes& sof, const Bytes& sos, const Bytes& extra = {}) {
    return Concat({{0xFF, 0xD8}, Dqt(0, 1), Dqt(1, 1), extra, sof, Segment(0xC4, goodTables), sos, data, {0xFF, 0xD9}});
  };
  const Bytes sos3 = Sos({1, 0x00, 2, 0x00, 3, 0x00});
  const auto withTables = [&](const Bytes& more) { return Stream(Concat({goodTables, more}), data); };
  struct Case {
    const char* what;
    Bytes stream;
    int32_t blocks;
    std::optional<ErrorKind> refusal;
  };
  const std::vector<Case> cases = {
      {"good tables", Stream(goodTables, data), 3, std::nullopt},
      {"4:4:4 at 8 x 8", build(Sof(8, 8, 0x11), sos3), 3, std::nullopt},
      {"4:2:0 at 16 x 16: one MCU of six blocks", build(Sof(16, 16, 0x22), sos3), 6, std::nullopt},
      // Table class 2 and table id 4 are outside the data model: the DHT segment is ignored.
      {"table class 2", withTables(HuffmanGroup(0x20, {1}, {0})), 0, ErrorKind::kDamaged},
      {"table id 4", withTables(HuffmanGroup(0x04, {1}, {0})), 0, ErrorKind::kDamaged},
      {"three 1-bit codes", withTables(HuffmanGroup(0x11, {3}, {0, 1, 2})), 0, ErrorKind::kDamaged},
      {"a DC size above 15", withTables(HuffmanGroup(0x01, {1}, {16})), 0, ErrorKind::kDamaged},
      {"more symbols than the segment holds", withTables(HuffmanGroup(0x01, {0, 4}, {0})), 0, ErrorKind::kDamaged},
      {"five scan components", build(Sof(8, 8, 0x11), Sos({1, 0, 2, 0, 3, 0, 1, 0, 2, 0})), 0, ErrorKind::kDamaged},
      {"a DC table id of 4", build(Sof(8, 8, 0x11), Sos({1, 0x40, 2, 0x00, 3, 0x00})), 0, ErrorKind::kDamaged},
      {"a scan component without a frame component", build(Sof(8, 8, 0x11), Sos({1, 0x00, 2, 0x00, 9, 0x00})), 0,
       ErrorKind::kDamaged},
      {"a zero sampling factor", build(Sof(8, 8, 0x01), sos3), 0, ErrorKind::kDamaged},
      {"4:2:2", build(Sof(8, 8, 0x21), sos3), 0, ErrorKind::kUnsupported},
      {"a 3:1 ratio", build(Sof(8, 8, 0x31), sos3), 0, ErrorKind::kUnsupported},
      {"eleven blocks in an MCU", build(Sof(8, 8, 0x33), sos3), 0, ErrorKind::kDamaged},
      // A quantisation table id of 4 in a DQT refuses the segment (tables 0 and 1 stay as defined).
      {"a DQT id of 4", build(Sof(8, 8, 0x11), sos3, Segment(0xDB, Bytes(65, 4))), 3, std::nullopt},
      // 8,000 x 8,000 at 4:2:0 needs 1.5 million blocks: refused before decoding.
      {"more than 30,000 blocks", build(Sof(8000, 8000, 0x22), sos3), 0, ErrorKind::kRefused},
      // A height of 0 in the frame header takes the lines of a DNL segment read after it.
      {"a DNL before the SOF", build(Sof(8, 0, 0x11), sos3, Segment(0xDC, {0, 8})), 0, ErrorKind::kDamaged},
      {"a DNL after the SOF",
       Concat({{0xFF, 0xD8}, Dqt(0, 1), Dqt(1, 1), Sof(8, 0, 0x11), Segment(0xDC, {0, 8}), Segment(0xC4, goodTables),
               sos3, data, {0xFF, 0xD9}}),
       3, std::nullopt},
      {"no start of image", Bytes{0x00, 0x11, 0xFF, 0xD9}, 0, ErrorKind::kNotThisFormat},
  };
  for (const Case& c : cases) {
    const ReadBack read = Read(c.stream);
    EXPECT_EQ(read.blockCount, c.blocks) << c.what;
    EXPECT_EQ(read.refusal, c.refusal) << c.what;
  }
}

TEST(CoefReaderFixture, RestartIntervalResetsPredictorsAndToleratesMissingMarkers) {
  // DC table: "0" = size 0, "1" = size 1; AC table: "1" = EOB (one code of length 1... "0").
  const Bytes tables = Concat({HuffmanGroup(0x00, {2}, {0x00, 0x01}), HuffmanGroup(0x10, {1}, {0x00})});
  // A 16 x 8 4:4:4 picture: two MCUs of three blocks. Each block: DC "1" + bit "1" (+1), EOB "0".
  // Per MCU: 110 110 110 -> 9 bits, padded to two bytes: 11011011 01111111.
  const auto build = [&](const Bytes& middle) {
    return Concat({{0xFF, 0xD8}, Dqt(0, 1), Dqt(1, 1), Segment(0xDD, {0, 1}), Sof(16, 8, 0x11),
                   Segment(0xC4, tables), Sos({1, 0x00, 2, 0x00, 3, 0x00}), {0xDB, 0x7F}, middle, {0xDB, 0x7F},
                   {0xFF, 0xD9}});
  };
  const ReadBack restarted = Read(build({0xFF, 0xD0}));
  ASSERT_EQ(restarted.blockCount, 6);
  for (const CoefficientBlock& block : restarted.blocks) EXPECT_EQ(block[0], 1);
  // Fill bytes before the restart marker are skipped.
  const ReadBack filled = Read(build({0xFF, 0xFF, 0xFF, 0xD3}));
  for (const CoefficientBlock& block : filled.blocks) EXPECT_EQ(block[0], 1);
}

}  // namespace
}  // namespace reel
