#include "audio_test_support.h"

#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "common/byte_io.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel::test {

std::vector<uint8_t> Tone16(uint32_t rate, uint16_t channels, double seconds, double frequency, double amplitude) {
  const auto frames = static_cast<std::size_t>(std::lround(rate * seconds));
  std::vector<uint8_t> bytes;
  ByteWriter writer(bytes);
  for (std::size_t i = 0; i < frames; ++i) {
    for (uint16_t c = 0; c < channels; ++c) {
      const double f = c == 0 ? frequency : frequency / 2;
      const double value = amplitude * std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / rate);
      writer.U16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(value * 32767))));
    }
  }
  return bytes;
}

std::vector<uint8_t> Tone8(uint32_t rate, uint16_t channels, double seconds, double frequency) {
  const auto frames = static_cast<std::size_t>(std::lround(rate * seconds));
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i < frames; ++i) {
    for (uint16_t c = 0; c < channels; ++c) {
      const double f = c == 0 ? frequency : frequency / 2;
      const double value = 0.5 * std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / rate);
      bytes.push_back(static_cast<uint8_t>(128 + std::lround(value * 127)));
    }
  }
  return bytes;
}

std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

std::vector<int16_t> Channel(const std::vector<int16_t>& samples, uint16_t channels, uint16_t which) {
  std::vector<int16_t> channel;
  for (std::size_t i = which; i < samples.size(); i += channels) channel.push_back(samples[i]);
  return channel;
}

double CrossingsPerSecond(const std::vector<int16_t>& samples, uint32_t rate) {
  if (samples.size() < 2) return 0;
  return static_cast<double>(Crossings(samples)) * rate / static_cast<double>(samples.size());
}

std::size_t Crossings(const std::vector<int16_t>& samples) {
  if (samples.empty()) return 0;
  // With hysteresis, so that coding noise around zero does not count as extra crossings.
  constexpr int kThreshold = 2000;
  std::size_t crossings = 0;
  bool low = samples[0] < 0;
  for (const int16_t sample : samples) {
    if (low && sample > kThreshold) {
      ++crossings;
      low = false;
    } else if (!low && sample < -kThreshold) {
      low = true;
    }
  }
  return crossings;
}

double Rms(const std::vector<int16_t>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (const int16_t s : samples) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

namespace {

// The "fmt " and "data" chunks of a RIFF WAVE file.
std::optional<CodedClip> ParseWave(const std::vector<uint8_t>& file) {
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  CodedClip clip;
  bool haveFormat = false;
  bool haveData = false;
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const uint32_t size = LoadU32(std::span<const uint8_t, 4>(file.data() + at + 4, 4));
    const std::size_t body = at + 8;
    const std::size_t length = std::min<std::size_t>(size, file.size() - body);
    const std::span<const uint8_t> bytes(file.data() + body, length);
    if (std::memcmp(file.data() + at, "fmt ", 4) == 0) {
      if (auto format = ReadAudioFormat(bytes)) {
        clip.format = *format;
        haveFormat = true;
      }
    } else if (std::memcmp(file.data() + at, "data", 4) == 0) {
      clip.data.assign(bytes.begin(), bytes.end());
      haveData = true;
    }
    at = body + length + (length & 1);
  }
  if (!haveFormat || !haveData) return std::nullopt;
  return clip;
}

bool HasId(const std::vector<uint8_t>& file, std::size_t at, const char* id) {
  return at + 4 <= file.size() && std::memcmp(file.data() + at, id, 4) == 0;
}

// Walks the chunks between `begin` and `end`, descending into lists, and gathers the audio
// stream's format and data chunks.
struct AviWalk {
  explicit AviWalk(const std::vector<uint8_t>& bytes) : file(bytes) {}

  const std::vector<uint8_t>& file;
  int streamIndex = -1;  // streams seen so far, minus one
  int audioStream = -1;
  bool audioHeader = false;
  CodedClip clip;
  bool haveFormat = false;

  void Walk(std::size_t begin, std::size_t end) {
    for (std::size_t at = begin; at + 8 <= end;) {
      const uint32_t size = LoadU32(std::span<const uint8_t, 4>(file.data() + at + 4, 4));
      const std::size_t body = at + 8;
      const std::size_t length = std::min<std::size_t>(size, end - body);
      if (HasId(file, at, "LIST") || HasId(file, at, "RIFF")) {
        if (HasId(file, body, "strl")) ++streamIndex;
        Walk(body + 4, body + length);
      } else {
        Chunk(at, body, length);
      }
      at = body + length + (length & 1);
    }
  }

  void Chunk(std::size_t at, std::size_t body, std::size_t length) {
    if (HasId(file, at, "strh")) {
      audioHeader = HasId(file, body, "auds") && audioStream < 0;
      if (audioHeader) audioStream = streamIndex;
    } else if (HasId(file, at, "strf") && audioHeader && !haveFormat) {
      if (auto format = ReadAudioFormat(std::span<const uint8_t>(file.data() + body, length))) {
        clip.format = *format;
        haveFormat = true;
      }
    } else if (audioStream >= 0 && file[at + 2] == 'w' && file[at + 3] == 'b' &&
               (file[at] - '0') * 10 + (file[at + 1] - '0') == audioStream) {
      clip.data.insert(clip.data.end(), file.begin() + static_cast<std::ptrdiff_t>(body),
                       file.begin() + static_cast<std::ptrdiff_t>(body + length));
    }
  }
};

}  // namespace

std::optional<CodedClip> ReadAviSoundtrack(const std::filesystem::path& path) {
  const std::vector<uint8_t> file = ReadAllBytes(path);
  if (!HasId(file, 0, "RIFF") || !HasId(file, 8, "AVI ")) return std::nullopt;
  AviWalk walk(file);
  walk.Walk(12, file.size());
  if (!walk.haveFormat) return std::nullopt;
  return walk.clip;
}

std::optional<CodedClip> CodeWithFfmpeg(const std::vector<uint8_t>& pcm, uint32_t rate, uint16_t channels,
                                        const std::string& codecArguments) {
  const ScratchFolder folder;
  const auto input = folder.Path() / "in.raw";
  const auto output = folder.Path() / "out.wav";
  if (!WriteAllBytes(input, pcm)) return std::nullopt;
  if (!RunFfmpegTool("-f s16le -ar " + std::to_string(rate) + " -ac " + std::to_string(channels) + " -i " +
                     ShellQuoted(input) + " " + codecArguments + " " + ShellQuoted(output))) {
    return std::nullopt;
  }
  return ParseWave(ReadAllBytes(output));
}

namespace {

struct MemorySource {
  const std::vector<uint8_t>* bytes;
  std::size_t position = 0;
};

std::size_t ReadMemory(void* out, std::size_t size, std::size_t count, void* source) {
  auto& memory = *static_cast<MemorySource*>(source);
  const std::size_t wanted = size * count;
  const std::size_t available = std::min(wanted, memory.bytes->size() - memory.position);
  std::memcpy(out, memory.bytes->data() + memory.position, available);
  memory.position += available;
  return size == 0 ? 0 : available / size;
}

int SeekMemory(void* source, ogg_int64_t offset, int whence) {
  auto& memory = *static_cast<MemorySource*>(source);
  ogg_int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<ogg_int64_t>(memory.position);
  if (whence == SEEK_END) base = static_cast<ogg_int64_t>(memory.bytes->size());
  const ogg_int64_t target = base + offset;
  if (target < 0 || target > static_cast<ogg_int64_t>(memory.bytes->size())) return -1;
  memory.position = static_cast<std::size_t>(target);
  return 0;
}

long TellMemory(void* source) { return static_cast<long>(static_cast<MemorySource*>(source)->position); }

}  // namespace

DecodedStream DecodeOgg(const std::vector<uint8_t>& ogg) {
  DecodedStream decoded;
  MemorySource source{&ogg};
  OggVorbis_File file;
  const ov_callbacks callbacks = {ReadMemory, SeekMemory, nullptr, TellMemory};
  if (ov_open_callbacks(&source, &file, nullptr, 0, callbacks) != 0) return decoded;
  const vorbis_info* info = ov_info(&file, -1);
  decoded.rate = info->rate;
  decoded.channels = info->channels;
  std::vector<char> buffer(65536);
  int section = 0;
  long got = 0;
  while ((got = ov_read(&file, buffer.data(), static_cast<int>(buffer.size()), 0, 2, 1, &section)) > 0) {
    for (long i = 0; i + 1 < got; i += 2) {
      const auto low = static_cast<uint8_t>(buffer[static_cast<std::size_t>(i)]);
      const auto high = static_cast<uint8_t>(buffer[static_cast<std::size_t>(i) + 1]);
      decoded.samples.push_back(static_cast<int16_t>(low | (high << 8)));
    }
  }
  decoded.ok = got == 0;
  decoded.frames = decoded.samples.size() / static_cast<std::size_t>(decoded.channels);
  ov_clear(&file);
  return decoded;
}

std::vector<uint32_t> Mp3FrameBitRates(const std::vector<uint8_t>& mp3) {
  static constexpr uint32_t kMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr uint32_t kMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
  std::vector<uint32_t> rates;
  for (std::size_t at = 0; at + 4 <= mp3.size();) {
    if (mp3[at] != 0xFF || (mp3[at + 1] & 0xE0) != 0xE0) return {};
    const int version = (mp3[at + 1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int bitRateIndex = mp3[at + 2] >> 4;
    const int rateIndex = (mp3[at + 2] >> 2) & 3;
    if (version == 1 || rateIndex == 3) return {};
    const uint32_t bitRate = version == 3 ? kMpeg1[bitRateIndex] : kMpeg2[bitRateIndex];
    const uint32_t rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const uint32_t padding = (mp3[at + 2] >> 1) & 1;
    const uint32_t length = (version == 3 ? 144000 : 72000) * bitRate / rate + padding;
    if (length == 0) return {};
    rates.push_back(bitRate);
    at += length;
  }
  return rates;
}

}  // namespace reel::test
