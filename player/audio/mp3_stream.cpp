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

}  // namespace

Mp3Stream::~Mp3Stream() { Close(); }

Status Mp3Stream::OpenMemory(std::span<const uint8_t> data, const std::string& name) {
  Close();
  std::lock_guard guard(Mp3Plugin::Lock());
  data_ = data;
  return OpenData(name);
}

Status Mp3Stream::OpenFile(const std::string& path) {
  Close();
  Result<MappedFile> mapping = MappedFile::Open(path);
  if (!mapping) return mapping.error();
  std::lock_guard guard(Mp3Plugin::Lock());
  mapping_ = std::move(*mapping);
  data_ = mapping_.Bytes();
  return OpenData(path);
}

// Under the lock: find the audio between the tags and let the decoder look at the first frame.
Status Mp3Stream::OpenData(const std::string& name) {
  const AudioRange range = FindAudioRange(data_);
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
  if (range.Size() < kHeaderBytes) return MakeError(ErrorKind::kNotThisFormat, name, "no MP3 audio");
  void* decoder = entries->create(data_.data() + dataStart_);
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
  return {};
}

void Mp3Stream::Close() {
  {
    std::lock_guard guard(Mp3Plugin::Lock());
    if (decoder_ != nullptr) plugin_.Entries()->destroy(decoder_);
    decoder_ = nullptr;
    data_ = {};
    dataStart_ = dataEnd_ = readPos_ = 0;
    overflow_.clear();
    overflowPos_ = 0;
  }
  mapping_ = MappedFile();
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

std::size_t Mp3Stream::DecodeNextFrame() {
  const Mp3PluginEntries& entries = *plugin_.Entries();
  if (dataEnd_ - readPos_ < kHeaderBytes) return 0;
  if (entries.predecode(decoder_, data_.data() + readPos_) != 0) return 0;
  const std::size_t frameLength = LodestarFrameLength(decoder_);
  if (frameLength < kHeaderBytes || frameLength > frameCopy_.size()) return 0;
  // The last frame may be cut short by the end of the data; the rest of its copy is zeros rather
  // than whatever the previous frame left there.
  const std::size_t available = std::min(frameLength, dataEnd_ - readPos_);
  std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(readPos_), available,
              frameCopy_.begin());
  std::fill(frameCopy_.begin() + static_cast<std::ptrdiff_t>(available), frameCopy_.end(),
            uint8_t{0});
  readPos_ += available;
  const int32_t frames = entries.decode(decoder_, pcmOut_.data(), frameCopy_.data());
  if (frames <= 0) return 0;
  // A decoder reporting more than its output area holds is held to the area.
  return std::min(static_cast<std::size_t>(frames) * format_.channels, pcmOut_.size());
}

std::size_t Mp3Stream::ReadPcm(std::span<int16_t> samples, bool loop) {
  std::lock_guard guard(Mp3Plugin::Lock());
  if (decoder_ == nullptr) {
    finished_ = true;
    return 0;
  }
  std::size_t delivered = TakeOverflow(samples);
  bool passGaveSound = delivered > 0 || readPos_ != dataStart_;
  while (delivered < samples.size()) {
    const std::size_t decoded = DecodeNextFrame();
    if (decoded == 0) {
      // The data has ended. A looping stream starts over, unless a whole pass gave no sound
      // (that would spin here for ever).
      if (!loop || !passGaveSound) {
        finished_ = true;
        return delivered;
      }
      readPos_ = dataStart_;
      passGaveSound = false;
      continue;
    }
    passGaveSound = true;
    const std::size_t taken = std::min(decoded, samples.size() - delivered);
    std::copy_n(pcmOut_.begin(), taken, samples.begin() + static_cast<std::ptrdiff_t>(delivered));
    delivered += taken;
    overflow_.assign(pcmOut_.begin() + static_cast<std::ptrdiff_t>(taken),
                     pcmOut_.begin() + static_cast<std::ptrdiff_t>(decoded));
    overflowPos_ = 0;
  }
  return delivered;
}

}  // namespace reel
