#include "platform/muxer/avi_stream_start.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <vector>

#include "common/byte_io.h"

namespace reel {
namespace {

constexpr uint32_t kMaxLeadSeconds = 2;
// Near enough: a pair of starts this close is taken at once, so the streams do not begin later
// than they need to.
constexpr int64_t kCloseEnoughMs = 2;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kStartField = 28;  // dwStart within the "strh" data
// The header list comes first in the file; libavformat's is a few kilobytes.
constexpr std::size_t kHeaderBytesRead = 1 << 16;

std::string_view FourCc(std::span<const uint8_t> bytes, std::size_t at) {
  return {reinterpret_cast<const char*>(bytes.data() + at), 4};
}

// Offsets in `bytes` of the data of every "strh" chunk inside the "hdrl" list, in order.
std::vector<std::size_t> StreamHeaderOffsets(std::span<const uint8_t> bytes) {
  std::vector<std::size_t> found;
  if (bytes.size() < 12 || FourCc(bytes, 0) != "RIFF" || FourCc(bytes, 8) != "AVI ") return found;
  // Walks the chunks of [from, to), descending into the lists that hold stream headers.
  const auto walk = [&](auto& self, std::size_t from, std::size_t to) -> void {
    std::size_t at = from;
    while (at + kChunkHeaderBytes <= to) {
      const uint32_t size = LoadU32(bytes.subspan(at + 4).first<4>());
      const std::size_t end = std::min<std::size_t>(to, at + kChunkHeaderBytes + size);
      const std::string_view id = FourCc(bytes, at);
      if (id == "LIST" && at + 12 <= end) {
        const std::string_view type = FourCc(bytes, at + 8);
        if (type == "hdrl" || type == "strl") self(self, at + 12, end);
      } else if (id == "strh" && size >= kStartField + 4 && end - at - kChunkHeaderBytes >= kStartField + 4) {
        found.push_back(at + kChunkHeaderBytes);
      }
      at = at + kChunkHeaderBytes + size + (size & 1u);
    }
  };
  walk(walk, 12, bytes.size());
  return found;
}

}  // namespace

AviStarts ChooseAviStarts(uint64_t leadSamples, uint32_t sampleRate, uint32_t samplesPerPacket,
                          uint32_t frameRate) {
  AviStarts best;
  if (sampleRate == 0 || samplesPerPacket == 0 || frameRate == 0) return best;
  // In units of 1 / (rate x frame rate) seconds: picture 0 at m x rate, the heard sound's start at
  // (n x packet + lead) x frame rate.
  const auto gap = [&](uint64_t m, uint64_t n) {
    const int64_t picture = static_cast<int64_t>(m * sampleRate);
    const int64_t sound = static_cast<int64_t>((n * samplesPerPacket + leadSamples) * frameRate);
    return picture > sound ? picture - sound : sound - picture;
  };
  const int64_t closeEnough = int64_t{sampleRate} * frameRate * kCloseEnoughMs / 1000;
  int64_t bestGap = gap(0, 0);
  for (uint64_t m = 0; m <= uint64_t{kMaxLeadSeconds} * frameRate && bestGap > closeEnough; ++m) {
    // The packet count that brings the sound nearest, rounded; never before the file's start.
    const int64_t wanted = static_cast<int64_t>(m * sampleRate) - static_cast<int64_t>(leadSamples * frameRate);
    const int64_t unit = int64_t{samplesPerPacket} * frameRate;
    const uint64_t n = wanted <= 0 ? 0 : static_cast<uint64_t>((wanted + unit / 2) / unit);
    if (const int64_t g = gap(m, n); g < bestGap) {
      bestGap = g;
      best = AviStarts{static_cast<uint32_t>(m), static_cast<uint32_t>(n)};
    }
  }
  return best;
}

Status WriteAviStreamStarts(const std::string& path, const std::string& outputName,
                            std::span<const uint32_t> starts) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file) return MakeError(ErrorKind::kCannotWrite, outputName, "cannot reopen the file to set its stream starts");
  std::vector<uint8_t> head(kHeaderBytesRead);
  file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
  file.clear();
  const std::vector<std::size_t> headers = StreamHeaderOffsets(head);
  if (headers.size() < starts.size()) {
    return MakeError(ErrorKind::kDamaged, outputName, "the AVI header list lacks a stream header");
  }
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::array<uint8_t, 4> field{};
    StoreU32(field, starts[i]);
    file.seekp(static_cast<std::streamoff>(headers[i] + kStartField));
    file.write(reinterpret_cast<const char*>(field.data()), field.size());
  }
  file.close();
  if (!file) return MakeError(ErrorKind::kCannotWrite, outputName, "cannot set the stream starts");
  return {};
}

}  // namespace reel
