#include "tools/qrxtool/movie_file.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <utility>

#include "common/byte_io.h"
#include "common/symbol_counts.h"
#include "player/video/frame_decoder.h"

namespace reel {
namespace {

constexpr uint32_t kFrameFixedBytes = 236;  // header, DC counts and both tables
constexpr int32_t kLowestQuality = 1;
constexpr int32_t kHighestQuality = 100;

class Problems {
 public:
  explicit Problems(std::string label) : label_(std::move(label)) {}
  void Check(bool sound, const std::string& what) {
    if (!sound) lines_.push_back(label_ + what);
  }
  std::vector<std::string> Take() { return std::move(lines_); }

 private:
  std::string label_;
  std::vector<std::string> lines_;
};

std::string Num(uint64_t v) { return std::to_string(v); }

void CheckMovieHeader(const QrxHeader& h, std::size_t fileLength, std::size_t frameCount, Problems& p) {
  p.Check(h.magic == kQrxMagic, "magic is not \"QRX1\"");
  p.Check(h.reserved0 == 0 && h.reserved1 == 0 && h.reserved2 == 0, "reserved header fields are not 0");
  p.Check(h.constantOne == 1, "header constant at offset 16 is " + Num(h.constantOne) + ", not 1");
  p.Check(h.bitsPerPixel == 24, "bits per pixel is " + Num(h.bitsPerPixel) + ", not 24");
  p.Check(h.width > 0 && h.height > 0, "picture size " + Num(h.width) + "x" + Num(h.height) + " is empty");
  p.Check(h.frameRate > 0, "frame rate is 0");
  p.Check(h.dataOffset == QrxDataOffset(frameCount),
          "data offset is " + Num(h.dataOffset) + ", not " + Num(QrxDataOffset(frameCount)));
  p.Check(h.fileSize == fileLength,
          "file size field is " + Num(h.fileSize) + " but the file has " + Num(fileLength) + " bytes");
}

void CheckIndex(const MovieFile& movie, Problems& p) {
  const QrxHeader& h = movie.header;
  const uint64_t rawSize = uint64_t{h.width} * h.height * 3;
  uint64_t expectedOffset = 0;
  for (std::size_t k = 0; k < movie.index.size(); ++k) {
    const QrxIndexEntry& e = movie.index[k];
    // The lines are made only for a fault: an index may hold many entries.
    const auto fault = [&p, k](const std::string& what) { p.Check(false, "index entry " + Num(k) + ": " + what); };
    if (e.frameNumber != k) fault("frame number is " + Num(e.frameNumber));
    if (e.constantTwo != 2 || e.reserved != 0) fault("constant fields are not 2 and 0");
    if (e.rawSize != rawSize) fault("raw size is " + Num(e.rawSize) + ", not " + Num(rawSize));
    if (e.frameOffset != expectedOffset) {
      fault("frame offset is " + Num(e.frameOffset) + ", not " + Num(expectedOffset) +
            " (frames must be back to back)");
    }
    if (!movie.FrameBytes(k).has_value()) fault("frame lies outside the file");
    expectedOffset = uint64_t{e.frameOffset} + e.codedSize;
  }
  const uint64_t end = uint64_t{h.dataOffset} + expectedOffset;
  p.Check(end == movie.bytes.size(),
          "frames end at byte " + Num(end) + " but the file has " + Num(movie.bytes.size()) + " bytes");
}

void CheckFrameHeader(const QrxFrameHeader& f, uint32_t expectedWidth,
                      uint32_t expectedHeight, Problems& p) {
  p.Check(f.tag == kQrxFrameTag, "tag is not \"JBP1\"");
  p.Check(f.headerSize == kQrxFrameHeaderSize, "header size is " + Num(f.headerSize) + ", not 44");
  p.Check((f.flags & kFrameFlagHasTables) != 0, "flags lack the quantisation-table bit");
  p.Check(f.flags == kFrameFlagsWritten, "flags are " + Num(f.flags) + ", not 0x08000001");
  p.Check(f.quality >= kLowestQuality && f.quality <= kHighestQuality,
          "quality " + std::to_string(f.quality) + " is outside 1 ... 100");
  p.Check(f.width > 0 && f.height > 0, "picture size is empty");
  if (expectedWidth != 0) {
    p.Check(f.width == expectedWidth && f.height == expectedHeight,
            "size " + Num(f.width) + "x" + Num(f.height) + " differs from the movie's " + Num(expectedWidth) + "x" +
                Num(expectedHeight));
  }
  p.Check(f.bitsPerPixel == 24, "bits per pixel is " + Num(f.bitsPerPixel) + ", not 24");
  p.Check(f.reserved0 == 0 && f.reserved1 == 0 && f.reserved2 == 0, "reserved fields are not 0");
  p.Check(f.dcStreamSize % 4 == 0 && f.acStreamSize % 4 == 0, "a stream length is not a multiple of 4");
}

void CheckFrameBody(std::span<const uint8_t> frame, const QrxFrameHeader& f, Problems& p) {
  if (frame.size() < kQrxFrameHeaderSize + 64) {
    p.Check(false, "too short for its symbol counts");
    return;
  }
  ByteReader dcIn(frame.subspan(kQrxFrameHeaderSize, 64));
  int64_t dcSymbols = 0;
  bool negative = false;
  for (std::size_t s = 0; s < kDcSymbolCount; ++s) {
    const int32_t c = dcIn.I32();
    negative |= c < 0;
    dcSymbols += c;
  }
  const auto ac = UnpackAcCounts(frame.subspan(kQrxFrameHeaderSize + 64));
  p.Check(ac.has_value(), "AC symbol counts run past the end of the frame");
  if (!ac) return;
  for (int32_t c : ac->counts) negative |= c < 0;
  p.Check(!negative, "a symbol count is negative");
  const uint64_t blocks = uint64_t{(f.width + 15u) / 16} * ((f.height + 15u) / 16) * 6;
  p.Check(dcSymbols == static_cast<int64_t>(blocks),
          "DC counts add up to " + std::to_string(dcSymbols) + ", not one per block (" + Num(blocks) + ")");
  const uint64_t expectedSize = kFrameFixedBytes + ac->paddedLength + uint64_t{f.dcStreamSize} + f.acStreamSize;
  p.Check(expectedSize == frame.size(),
          "parts add up to " + Num(expectedSize) + " bytes but the frame has " + Num(frame.size()));
}

// The problems of one frame as VerifyFrame gives them, decoded on `decoder` as on a new one.
std::vector<std::string> CheckFrame(std::span<const uint8_t> frame, const std::string& label, uint32_t expectedWidth,
                                    uint32_t expectedHeight, FrameDecoder& decoder) {
  Problems p(label);
  if (frame.size() < kQrxFrameHeaderSize) {
    p.Check(false, "shorter than the 44-byte frame header (" + Num(frame.size()) + " bytes)");
    return p.Take();
  }
  const QrxFrameHeader f = ReadQrxFrameHeader(frame.first<kQrxFrameHeaderSize>());
  CheckFrameHeader(f, expectedWidth, expectedHeight, p);
  CheckFrameBody(frame, f, p);
  decoder.Reset();
  if (const Status decoded = decoder.DecodeFrame(frame); !decoded) {
    p.Check(false, "the frame does not decode: " + decoded.error().message);
  }
  return p.Take();
}

bool CarriesTables(std::span<const uint8_t> frame) {
  return frame.size() >= kQrxFrameHeaderSize &&
         (ReadQrxFrameHeader(frame.first<kQrxFrameHeaderSize>()).flags & kFrameFlagHasTables) != 0;
}

}  // namespace

Status DecodeMovieFrame(const MovieFile& movie, std::size_t k, FrameDecoder& decoder) {
  std::size_t first = k;
  while (first > 0 && !CarriesTables(movie.FrameBytes(first).value_or(std::span<const uint8_t>{}))) --first;
  for (std::size_t i = first; i < k; ++i) {
    // A frame on the way that does not decode lends no tables; frame k's own result tells.
    if (const auto frame = movie.FrameBytes(i)) static_cast<void>(decoder.DecodeFrame(*frame));
  }
  const auto frame = movie.FrameBytes(k);
  if (!frame) return Error{ErrorKind::kDamaged, "the frame lies outside the file"};
  return decoder.DecodeFrame(*frame);
}

std::optional<std::span<const uint8_t>> MovieFile::FrameBytes(std::size_t k) const {
  const QrxIndexEntry& e = index.at(k);
  const uint64_t start = uint64_t{header.dataOffset} + e.frameOffset;
  if (start > bytes.size() || bytes.size() - start < e.codedSize) return std::nullopt;
  return std::span<const uint8_t>(bytes).subspan(static_cast<std::size_t>(start), e.codedSize);
}

Result<MovieFile> ParseMovie(std::vector<uint8_t> bytes) {
  if (bytes.size() < kQrxHeaderSize) {
    return MakeError(ErrorKind::kDamaged, "", "shorter than the 48-byte movie header (" + Num(bytes.size()) + " bytes)");
  }
  MovieFile movie;
  movie.header = ReadQrxHeader(std::span<const uint8_t>(bytes).first<kQrxHeaderSize>());
  const uint64_t indexEnd = QrxDataOffset(movie.header.frameCount);
  if (indexEnd > bytes.size()) {
    return MakeError(ErrorKind::kDamaged, "",
                     "the index of " + Num(movie.header.frameCount) + " frames runs past the end of the file (" +
                         Num(bytes.size()) + " bytes)");
  }
  movie.index.reserve(movie.header.frameCount);
  for (std::size_t k = 0; k < movie.header.frameCount; ++k) {
    const auto entry = std::span<const uint8_t>(bytes).subspan(kQrxHeaderSize + kQrxIndexEntrySize * k);
    movie.index.push_back(ReadQrxIndexEntry(entry.first<kQrxIndexEntrySize>()));
  }
  movie.bytes = std::move(bytes);
  return movie;
}

Result<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code ignored;
    const ErrorKind kind = std::filesystem::exists(path, ignored) ? ErrorKind::kCannotRead : ErrorKind::kNotFound;
    return MakeError(kind, path, "cannot open the file");
  }
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return MakeError(ErrorKind::kCannotRead, path, "read failed");
  return bytes;
}

std::optional<MovieFile> LoadMovieOrReport(const std::string& path) {
  Result<std::vector<uint8_t>> bytes = ReadWholeFile(path);
  if (!bytes) {
    std::cerr << "qrxtool: " << bytes.error().message << "\n";
    return std::nullopt;
  }
  Result<MovieFile> movie = ParseMovie(std::move(*bytes));
  if (!movie) {
    std::cerr << "qrxtool: " << path << ": " << movie.error().message << "\n";
    return std::nullopt;
  }
  return std::move(*movie);
}

std::vector<std::string> VerifyFrame(std::span<const uint8_t> frame, const std::string& label,
                                     uint32_t expectedWidth, uint32_t expectedHeight) {
  FrameDecoder decoder;
  return CheckFrame(frame, label, expectedWidth, expectedHeight, decoder);
}

std::vector<std::string> VerifyContainer(const MovieFile& movie) {
  Problems p("");
  CheckMovieHeader(movie.header, movie.bytes.size(), movie.index.size(), p);
  CheckIndex(movie, p);
  return p.Take();
}

std::vector<std::string> VerifyMovie(const MovieFile& movie) {
  std::vector<std::string> lines = VerifyContainer(movie);
  // Entries that point at the same bytes have the same problems: each distinct frame is checked
  // once (one decoder, reset before each frame) and its lines repeated under each entry's label.
  std::map<std::pair<const uint8_t*, std::size_t>, std::vector<std::string>> checked;
  FrameDecoder decoder;
  for (std::size_t k = 0; k < movie.index.size(); ++k) {
    const auto frame = movie.FrameBytes(k);
    if (!frame) continue;  // reported with the index
    auto [found, isNew] = checked.try_emplace({frame->data(), frame->size()});
    if (isNew) found->second = CheckFrame(*frame, "", movie.header.width, movie.header.height, decoder);
    const std::string label = "frame " + Num(k) + ": ";
    for (const std::string& line : found->second) lines.push_back(label + line);
  }
  return lines;
}

}  // namespace reel
