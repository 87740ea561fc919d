// Mp3Stream: frames from the data, through the plug-in, into PCM.
//
// The plug-in sees one frame at a time: predecode on the four bytes at the read position tells
// whether a frame starts there and how long it is; the frame is copied into a fixed copy area (a
// frame that does not fit ends the data) and decoded into the plug-in's output area. Every call
// into the plug-in and every move of the read position happens under the plug-in's process-wide
// lock, since the device's thread reads while the user-interface thread opens and closes streams.
#include "player/audio/mp3_stream.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "player/audio/mp3_tags.h"

namespace reel {
namespace {

constexpr std::size_t kHeaderBytes = 4;

// A Layer III frame may take up to 511 bytes of its sound from the frames before it (the bit
// reservoir), and its first samples overlap the frame before. A seek decodes at least this many
// frames, and this many bytes of frames, before the one it lands on, and at most the larger count.
constexpr std::size_t kPrimeFrames = 2;
constexpr std::size_t kPrimeBytes = 1024;
constexpr std::size_t kMostPrimeFrames = 64;

// Samples per channel in each frame of a stream, from its first frame's header: 384 for Layer I,
// 576 for Layer III of MPEG-2 and 2.5, 1152 otherwise (ISO/IEC 11172-3, 13818-3).
uint32_t SamplesPerFrame(const std::array<uint8_t, 4>& header) {
  const uint32_t version = (header[1] >> 3) & 3u;  // 3: MPEG-1
  const uint32_t layer = (header[1] >> 1) & 3u;    // 3: Layer I, 1: Layer III
  if (layer == 3) return 384;
  if (layer == 1 && version != 3) return 576;
  return 1152;
}

}  // namespace

Mp3Stream::~Mp3Stream() { Close(); }

Status Mp3Stream::OpenMemory(std::span<const uint8_t> data, const std::string& name) {
  Close();
  std::lock_guard guard(Mp3Plugin::Lock());
  source_ = SoundSource(data);
  return OpenData(name);
}

Status Mp3Stream::OpenFile(const std::string& path) {
  Close();
  Result<SoundSource> source = SoundSource::OpenFile(path);
  if (!source) return source.error();
  std::lock_guard guard(Mp3Plugin::Lock());
  source_ = std::move(*source);
  return OpenData(path);
}

// Under the lock: find the audio between the tags and let the decoder look at the first frame.
bool Mp3Stream::HeaderAt(std::size_t offset, std::array<uint8_t, 4>& header) {
  const std::span<const uint8_t> bytes = source_.View(offset, header.size());
  if (bytes.size() < header.size()) return false;
  std::copy(bytes.begin(), bytes.end(), header.begin());
  return true;
}

Status Mp3Stream::OpenData(const std::string& name) {
  const std::span<const uint8_t> head = source_.View(0, kAudioRangeHeadBytes);
  const std::vector<uint8_t> headCopy(head.begin(), head.end());
  const std::size_t size = source_.Size();
  const std::size_t tailStart = size - std::min(size, kAudioRangeTailBytes);
  const std::span<const uint8_t> tail = source_.View(tailStart, size - tailStart);
  const AudioRange range = FindAudioRange(headCopy, tail, size);
  dataStart_ = range.start;
  dataEnd_ = range.end;
  readPos_ = dataStart_;
  finished_ = false;
  overflow_.clear();
  overflowPos_ = 0;
  const Mp3PluginEntries* entries = plugin_.Entries();
  if (entries == nullptr) {
    return MakeError(ErrorKind::kUnsupported, name, "the MP3 decoder plug-in is not available");
  }
  std::array<uint8_t, kHeaderBytes> header{};
  if (range.Size() < kHeaderBytes || !HeaderAt(dataStart_, header)) {
    return MakeError(ErrorKind::kNotThisFormat, name, "no MP3 audio");
  }
  void* decoder = entries->create(header.data());
  if (decoder == nullptr) {
    return MakeError(ErrorKind::kNotThisFormat, name, "the decoder refuses the first frame");
  }
  const uint16_t channels = LodestarChannels(decoder);
  const uint32_t rate = LodestarSampleRate(decoder);
  if ((channels != 1 && channels != 2) || rate == 0) {  // nothing the output could convert
    entries->destroy(decoder);
    return MakeError(ErrorKind::kUnsupported, name,
                     std::to_string(channels) + " channels at " + std::to_string(rate) + " Hz");
  }
  decoder_ = decoder;
  format_ = PcmFormat{channels, rate};
  samplesPerFrame_ = SamplesPerFrame(header);
  FindInfoFrame(*entries, decoder);
  frameStarts_.assign(1, audioStart_);
  passFrame_ = 0;
  return {};
}

// The information frame is a frame like any other to the decoder, so the decoder tells its length.
void Mp3Stream::FindInfoFrame(const Mp3PluginEntries& entries, void* decoder) {
  info_.reset();
  audioStart_ = dataStart_;
  passSample_ = 0;
  std::array<uint8_t, kHeaderBytes> header{};
  if (!HeaderAt(dataStart_, header) || entries.predecode(decoder, header.data()) != 0) return;
  const std::size_t frameLength = LodestarFrameLength(decoder);
  if (frameLength < kHeaderBytes || frameLength > dataEnd_ - dataStart_) return;
  const std::span<const uint8_t> frame = source_.View(dataStart_, frameLength);
  if (frame.size() < frameLength) return;
  info_ = ReadMp3InfoFrame(frame);
  if (!info_) return;
  audioStart_ = dataStart_ + frameLength;
  readPos_ = audioStart_;
}

bool Mp3Stream::Restart() { return RestartAt(0); }

bool Mp3Stream::RestartAt(std::size_t index) {
  const Mp3PluginEntries& entries = *plugin_.Entries();
  if (decoder_ != nullptr) entries.destroy(decoder_);
  decoder_ = nullptr;
  readPos_ = frameStarts_[index];
  passFrame_ = index;
  passSample_ = uint64_t{samplesPerFrame_} * index;
  // A stream of nothing but its information frame has no frame to start a decoder on.
  std::array<uint8_t, kHeaderBytes> header{};
  if (dataEnd_ - std::min(readPos_, dataEnd_) < kHeaderBytes || !HeaderAt(readPos_, header)) return false;
  decoder_ = entries.create(header.data());
  return decoder_ != nullptr;
}

bool Mp3Stream::FindFrame(std::size_t index) {
  const Mp3PluginEntries& entries = *plugin_.Entries();
  for (;;) {
    const std::size_t start = frameStarts_[std::min(index, frameStarts_.size() - 1)];
    std::array<uint8_t, kHeaderBytes> header{};
    if (dataEnd_ - std::min(start, dataEnd_) < kHeaderBytes || !HeaderAt(start, header) ||
        entries.predecode(decoder_, header.data()) != 0) {
      return false;
    }
    if (index < frameStarts_.size()) return true;
    const std::size_t frameLength = LodestarFrameLength(decoder_);
    if (frameLength < kHeaderBytes || frameLength > frameCopy_.size()) return false;
    frameStarts_.push_back(start + frameLength);
  }
}

uint64_t Mp3Stream::Seek(uint64_t frame) {
  std::lock_guard guard(Mp3Plugin::Lock());
  overflow_.clear();
  overflowPos_ = 0;
  finished_ = true;
  readPos_ = dataEnd_;  // where a seek that fails leaves the stream: at its end
  if (decoder_ == nullptr) return frame;
  const uint64_t wanted = SoundStart() + frame;
  if (wanted >= SoundEnd()) return frame;
  const std::size_t index = static_cast<std::size_t>(wanted / samplesPerFrame_);
  if (!FindFrame(index)) return frame;
  std::size_t first = index;
  while (first > 0 && index - first < kMostPrimeFrames &&
         (index - first < kPrimeFrames || frameStarts_[index] - frameStarts_[first] < kPrimeBytes)) {
    --first;
  }
  if (!RestartAt(first)) return frame;
  // The frames before the one landed on are decoded for what they leave in the decoder; a frame
  // that gives nothing on a fresh decoder (its reservoir lies before it) is no end of the data.
  const Mp3PluginEntries& entries = *plugin_.Entries();
  while (passFrame_ < index) {
    std::array<uint8_t, kHeaderBytes> header{};
    if (!HeaderAt(readPos_, header) || entries.predecode(decoder_, header.data()) != 0) return frame;
    const std::span<const uint8_t> bytes = source_.View(readPos_, LodestarFrameLength(decoder_));
    std::fill(std::copy(bytes.begin(), bytes.end(), frameCopy_.begin()), frameCopy_.end(), uint8_t{0});
    entries.decode(decoder_, pcmOut_.data(), frameCopy_.data());
    readPos_ = frameStarts_[++passFrame_];
  }
  passSample_ = uint64_t{samplesPerFrame_} * index;
  finished_ = false;
  return std::max(passSample_, SoundStart()) - SoundStart();
}

void Mp3Stream::Close() {
  {
    std::lock_guard guard(Mp3Plugin::Lock());
    if (decoder_ != nullptr) plugin_.Entries()->destroy(decoder_);
    decoder_ = nullptr;
    dataStart_ = dataEnd_ = readPos_ = audioStart_ = 0;
    passSample_ = 0;
    passFrame_ = 0;
    frameStarts_.clear();
    info_.reset();
    overflow_.clear();
    overflowPos_ = 0;
  }
  source_ = SoundSource();
}

std::size_t Mp3Stream::TakeOverflow(std::span<int16_t> samples) {
  const std::size_t count = std::min(samples.size(), overflow_.size() - overflowPos_);
  std::copy_n(overflow_.begin() + static_cast<std::ptrdiff_t>(overflowPos_), count,
              samples.begin());
  overflowPos_ += count;
  if (overflowPos_ == overflow_.size()) {
    overflow_.clear();
    overflowPos_ = 0;
  }
  return count;
}

Mp3Stream::Decoded Mp3Stream::DecodeNextFrame() {
  const Mp3PluginEntries& entries = *plugin_.Entries();
  const Decoded ended{true, 0, 0};
  if (dataEnd_ - readPos_ < kHeaderBytes) return ended;
  const uint64_t soundEnd = info_ ? info_->EndSample().value_or(UINT64_MAX) : UINT64_MAX;
  if (passSample_ >= soundEnd) return ended;  // the rest is padding
  std::array<uint8_t, kHeaderBytes> header{};
  // A file cut short while it plays ends the data where it now ends.
  if (!HeaderAt(readPos_, header) || entries.predecode(decoder_, header.data()) != 0) return ended;
  const std::size_t frameLength = LodestarFrameLength(decoder_);
  if (frameLength < kHeaderBytes || frameLength > frameCopy_.size()) return ended;
  // The last frame may be cut short by the end of the data; the rest of its copy is zeros rather
  // than whatever the previous frame left there.
  const std::size_t available = std::min(frameLength, dataEnd_ - readPos_);
  const std::span<const uint8_t> bytes = source_.View(readPos_, available);
  if (bytes.size() < available) return ended;
  std::copy(bytes.begin(), bytes.end(), frameCopy_.begin());
  std::fill(frameCopy_.begin() + static_cast<std::ptrdiff_t>(available), frameCopy_.end(),
            uint8_t{0});
  readPos_ += available;
  if (++passFrame_ == frameStarts_.size()) frameStarts_.push_back(readPos_);
  const int32_t frames = entries.decode(decoder_, pcmOut_.data(), frameCopy_.data());
  if (frames <= 0) return ended;
  // A decoder reporting more than its output area holds is held to the area.
  const std::size_t samples =
      std::min(static_cast<std::size_t>(frames) * format_.channels, pcmOut_.size());
  const uint64_t frameStart = passSample_;
  const uint64_t frameEnd = frameStart + samples / format_.channels;
  passSample_ = frameEnd;
  // Only the part of the frame that lies within the sound is played.
  const uint64_t soundStart = info_ ? info_->FirstSample() : 0;
  const uint64_t keepFrom = std::clamp(soundStart, frameStart, frameEnd);
  const uint64_t keepTo = std::clamp(soundEnd, keepFrom, frameEnd);
  return Decoded{false, static_cast<std::size_t>(keepFrom - frameStart) * format_.channels,
                 static_cast<std::size_t>(keepTo - keepFrom) * format_.channels};
}

std::size_t Mp3Stream::ReadPcm(std::span<int16_t> samples, bool loop) {
  std::lock_guard guard(Mp3Plugin::Lock());
  if (decoder_ == nullptr) {
    finished_ = true;
    return 0;
  }
  std::size_t delivered = TakeOverflow(samples);
  bool passGaveSound = delivered > 0 || passSample_ != 0;
  while (delivered < samples.size()) {
    const Decoded decoded = DecodeNextFrame();
    if (decoded.ended) {
      // The data has ended. A looping stream starts over, unless a whole pass gave no sound
      // (that would spin here for ever).
      if (!loop || !passGaveSound || !Restart()) {
        finished_ = true;
        return delivered;
      }
      passGaveSound = false;
      continue;
    }
    if (decoded.count == 0) continue;  // a frame of the delay at the start
    passGaveSound = true;
    const auto sound = std::span(pcmOut_).subspan(decoded.first, decoded.count);
    const std::size_t taken = std::min(sound.size(), samples.size() - delivered);
    std::copy_n(sound.begin(), taken, samples.begin() + static_cast<std::ptrdiff_t>(delivered));
    delivered += taken;
    overflow_.assign(sound.begin() + static_cast<std::ptrdiff_t>(taken), sound.end());
    overflowPos_ = 0;
  }
  return delivered;
}

}  // namespace reel
