// gogo.dll: an MP3 encoder module on LAME behind the MPGE entry points.
//
// The entry points carry no handle, so the stream being encoded lives in the module, one at a
// time. Input arrives one MPEG frame of samples per MPGE_processFrame through the client's input
// function; the encoded bytes go out through the client's output function. When the stream opens
// with an information frame, that frame can only be filled in once the whole stream is known, so
// the stream is held back and handed over in order when the coder is closed; otherwise each
// frame's bytes go out as soon as LAME produces them.
#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "modules/mp3enc/mpge_interface.h"

#define MPGE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kVersion = 100;  // 1.00
constexpr std::size_t kDeliveryChunk = 1 << 20;
// A stream held back in memory goes to the spill file once it reaches this size.
constexpr std::size_t kSpillBytes = 8 << 20;
constexpr std::array<uint32_t, 14> kMpeg1BitRates = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<uint32_t, 14> kMpeg2BitRates = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr std::array<uint32_t, 9> kMpegSampleRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

uint32_t NearestAllowedBitRate(uint32_t requested, uint32_t sampleRate) {
  const auto& allowed = sampleRate >= 32000 ? kMpeg1BitRates : kMpeg2BitRates;
  uint32_t best = allowed.front();
  for (const uint32_t rate : allowed) {
    const uint32_t distance = rate > requested ? rate - requested : requested - rate;
    const uint32_t bestDistance = best > requested ? best - requested : requested - best;
    if (distance < bestDistance) best = rate;
  }
  return best;
}

bool IsMpegSampleRate(uint32_t rate) {
  return std::find(kMpegSampleRates.begin(), kMpegSampleRates.end(), rate) != kMpegSampleRates.end();
}

struct Configuration {
  MpgeInputDescription input{};
  bool hasInput = false;
  MpgeOutputFunction output = nullptr;
  uint32_t mode = 1;
  uint32_t bitRate = 128;
  uint32_t outputRate = 0;
  bool protection = false;
  bool infoFrame = true;
  bool constantRate = true;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct LameDeleter {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameDeleter>;

class StreamEncoder {
 public:
  int32_t Initialize() {
    *this = StreamEncoder();
    return kMpgeOk;
  }

  int32_t Set(uint32_t item, uintptr_t first, uintptr_t second) {
    if (phase_ != Phase::kIdle) return kMpgeNotConfigured;
    switch (item) {
      case kMpgeItemInput: return SetInput(first, second);
      case kMpgeItemOutput:
        if (first != kMpgeByFunction || second == 0) return kMpgeBadValue;
        config_.output = reinterpret_cast<MpgeOutputFunction>(second);
        return kMpgeOk;
      case kMpgeItemMode:
        if (first > 1) return kMpgeBadValue;
        config_.mode = static_cast<uint32_t>(first);
        return kMpgeOk;
      case kMpgeItemBitRate:
        if (first == 0 || first > 640) return kMpgeBadValue;
        config_.bitRate = static_cast<uint32_t>(first);
        return kMpgeOk;
      case kMpgeItemOutputRate:
        if (first != 0 && !IsMpegSampleRate(static_cast<uint32_t>(first))) return kMpgeBadValue;
        config_.outputRate = static_cast<uint32_t>(first);
        return kMpgeOk;
      case kMpgeItemProtection: return SetSwitch(config_.protection, first);
      case kMpgeItemInfoFrame: return SetSwitch(config_.infoFrame, first);
      case kMpgeItemConstantRate: return SetSwitch(config_.constantRate, first);
      default: return kMpgeUnknownItem;
    }
  }

  int32_t Get(uint32_t item, uintptr_t* value) const {
    if (value == nullptr) return kMpgeBadValue;
    switch (item) {
      case kMpgeItemInput: *value = reinterpret_cast<uintptr_t>(config_.input.read); return kMpgeOk;
      case kMpgeItemOutput: *value = reinterpret_cast<uintptr_t>(config_.output); return kMpgeOk;
      case kMpgeItemMode: *value = config_.mode; return kMpgeOk;
      case kMpgeItemBitRate: *value = ActualBitRate(); return kMpgeOk;
      case kMpgeItemOutputRate: *value = OutputRate(); return kMpgeOk;
      case kMpgeItemProtection: *value = config_.protection; return kMpgeOk;
      case kMpgeItemInfoFrame: *value = config_.infoFrame; return kMpgeOk;
      case kMpgeItemConstantRate: *value = config_.constantRate; return kMpgeOk;
      default: return kMpgeUnknownItem;
    }
  }

  int32_t Detect() {
    if (phase_ != Phase::kIdle) return kMpgeNotConfigured;
    if (!config_.hasInput || config_.output == nullptr) return kMpgeNotConfigured;
    const MpgeInputDescription& input = config_.input;
    if ((input.bitsPerSample != 8 && input.bitsPerSample != 16) || (input.channels != 1 && input.channels != 2) ||
        input.samplesPerSecond < 1000 || input.samplesPerSecond > 192000 || !IsMpegSampleRate(OutputRate())) {
      return kMpgeBadValue;
    }
    lame_.reset(lame_init());
    if (!lame_ || !ApplyParameters()) {
      lame_.reset();
      return kMpgeEncoderFailed;
    }
    frameBytes_ = input.channels * (input.bitsPerSample / 8u);
    request_.assign(static_cast<std::size_t>(lame_get_framesize(lame_.get())) * frameBytes_, 0);
    remaining_ = input.sizeInBytes;
    phase_ = Phase::kEncoding;
    return kMpgeOk;
  }

  int32_t ProcessFrame() {
    if (phase_ == Phase::kIdle) return kMpgeNotConfigured;
    if (phase_ != Phase::kEncoding) return kMpgeEndOfInput;
    const int32_t read = config_.input.read(request_.data(), static_cast<uint32_t>(request_.size()));
    if (read == 1) return Finish() ? kMpgeEndOfInput : kMpgeCallbackFailed;
    if (read != 0) {
      Finish();
      return kMpgeCallbackFailed;
    }
    if (!EncodeRequest()) {
      Finish();
      return failed_ ? kMpgeCallbackFailed : kMpgeEncoderFailed;
    }
    return kMpgeOk;
  }

  int32_t Close() {
    if (phase_ == Phase::kIdle) return kMpgeNotConfigured;
    if (phase_ == Phase::kEncoding) Finish();
    phase_ = Phase::kClosed;
    return failed_ ? kMpgeCallbackFailed : kMpgeOk;
  }

  int32_t End() {
    if (phase_ != Phase::kIdle) Close();
    const bool failed = failed_;
    Initialize();
    return failed ? kMpgeCallbackFailed : kMpgeOk;
  }

 private:
  enum class Phase { kIdle, kEncoding, kFinished, kClosed };

  static int32_t SetSwitch(bool& target, uintptr_t value) {
    if (value > 1) return kMpgeBadValue;
    target = value == 1;
    return kMpgeOk;
  }

  int32_t SetInput(uintptr_t first, uintptr_t second) {
    if (first != kMpgeByFunction || second == 0) return kMpgeBadValue;
    const auto* description = reinterpret_cast<const MpgeInputDescription*>(second);
    if (description->read == nullptr) return kMpgeBadValue;
    config_.input = *description;
    config_.hasInput = true;
    return kMpgeOk;
  }

  uint32_t OutputRate() const { return config_.outputRate != 0 ? config_.outputRate : config_.input.samplesPerSecond; }
  uint32_t ActualBitRate() const { return NearestAllowedBitRate(config_.bitRate, OutputRate()); }

  // The highest bit rate a frame of a constant-rate stream with an information frame may take.
  //
  // Such a stream is encoded at an average rate pinned at the bit rate. The encoder gives a
  // granule it finds below the threshold of hearing a fixed allowance (its share of a frame at the
  // lowest MPEG-1 rate, 32 kbit/s), which may be more than the rate left for it; with the reservoir
  // empty, the frame then holds more than a frame at the bit rate can carry, and with no higher rate
  // allowed the encoder stops the process. That happens at the lowest MPEG-1 rates, 32 and
  // 40 kbit/s, where the allowance is most of a frame. There a frame may step up as far as it takes
  // to carry a whole allowance more: the lowest rate whose frames are larger by a frame at
  // 32 kbit/s less its header and side information. Every other frame stays at the bit rate, and
  // every other setting keeps every frame at it (and its stream exactly as before).
  uint32_t HighestFrameRate() const {
    const uint32_t rate = ActualBitRate();
    const uint32_t sampleRate = OutputRate();
    if (sampleRate < 32000 || rate > kMpeg1BitRates[1]) return rate;
    const auto frameBits = [sampleRate](uint32_t kbps) { return 144000u * kbps / sampleRate * 8u; };
    const uint32_t headerBits = (config_.mode == 0 ? 4u + 17u : 4u + 32u) * 8u;
    const uint32_t allowance = frameBits(kMpeg1BitRates[0]) - headerBits;
    for (const uint32_t higher : kMpeg1BitRates) {
      if (higher > rate && frameBits(higher) - frameBits(rate) >= allowance) return higher;
    }
    return kMpeg1BitRates.back();
  }

  bool ApplyParameters() {
    lame_global_flags* flags = lame_.get();
    lame_set_num_channels(flags, static_cast<int>(config_.input.channels));
    lame_set_in_samplerate(flags, static_cast<int>(config_.input.samplesPerSecond));
    lame_set_out_samplerate(flags, static_cast<int>(OutputRate()));
    lame_set_mode(flags, config_.mode == 0 ? MONO : JOINT_STEREO);
    if (config_.constantRate && config_.infoFrame) {
      // Every audio frame at the bit rate, pinned as an average rate whose lowest (and, but for
      // the lowest MPEG-1 rates, highest) is that rate: in this mode the information frame may
      // use a larger frame of its own, which it needs at low bit rates, where a frame is too
      // small to hold it.
      lame_set_VBR(flags, vbr_abr);
      lame_set_VBR_mean_bitrate_kbps(flags, static_cast<int>(ActualBitRate()));
      lame_set_VBR_min_bitrate_kbps(flags, static_cast<int>(ActualBitRate()));
      lame_set_VBR_max_bitrate_kbps(flags, static_cast<int>(HighestFrameRate()));
      lame_set_VBR_hard_min(flags, 1);
    } else if (config_.constantRate) {
      lame_set_VBR(flags, vbr_off);
      lame_set_brate(flags, static_cast<int>(ActualBitRate()));
    } else {
      lame_set_VBR(flags, vbr_abr);
      lame_set_VBR_mean_bitrate_kbps(flags, static_cast<int>(ActualBitRate()));
    }
    lame_set_quality(flags, 5);
    lame_set_error_protection(flags, config_.protection ? 1 : 0);
    lame_set_bWriteVbrTag(flags, config_.infoFrame ? 1 : 0);
    lame_set_write_id3tag_automatic(flags, 0);
    return lame_init_params(flags) >= 0;
  }

  // Encodes the samples of the last request, leaving out the padding past the input's size.
  bool EncodeRequest() {
    std::size_t usable = request_.size();
    if (config_.input.sizeInBytes != 0) {
      usable = static_cast<std::size_t>(std::min<uint64_t>(usable, remaining_));
      remaining_ -= usable;
    }
    const std::size_t frames = usable / frameBytes_;
    if (frames == 0) return true;
    samples_.resize(frames * config_.input.channels);
    const std::span<const uint8_t> bytes(request_.data(), frames * frameBytes_);
    if (config_.input.bitsPerSample == 8) {
      for (std::size_t i = 0; i < samples_.size(); ++i) samples_[i] = static_cast<int16_t>((bytes[i] - 128) * 256);
    } else {
      for (std::size_t i = 0; i < samples_.size(); ++i) {
        samples_[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
      }
    }
    encoded_.resize(frames * 5 / 4 + 7200);
    const int count = static_cast<int>(frames);
    const int size = static_cast<int>(encoded_.size());
    const int made = config_.input.channels == 2
                         ? lame_encode_buffer_interleaved(lame_.get(), samples_.data(), count, encoded_.data(), size)
                         : lame_encode_buffer(lame_.get(), samples_.data(), samples_.data(), count, encoded_.data(), size);
    if (made < 0) return false;
    return Emit(std::span<const uint8_t>(encoded_.data(), static_cast<std::size_t>(made)));
  }

  // Flushes the encoder, completes the information frame and hands over what was held back.
  bool Finish() {
    phase_ = Phase::kFinished;
    encoded_.resize(7200);
    const int made = lame_encode_flush(lame_.get(), encoded_.data(), static_cast<int>(encoded_.size()));
    if (made > 0) Emit(std::span<const uint8_t>(encoded_.data(), static_cast<std::size_t>(made)));
    if (!config_.infoFrame) return !failed_;
    std::array<uint8_t, 2880> info{};
    const std::size_t infoSize = lame_get_lametag_frame(lame_.get(), info.data(), info.size());
    if (infoSize > 0 && infoSize <= info.size() && infoSize <= spilled_ + held_.size()) {
      PlaceInfoFrame(std::span<const uint8_t>(info.data(), infoSize));
    }
    DeliverSpilled();
    for (std::size_t offset = 0; offset < held_.size() && !failed_; offset += kDeliveryChunk) {
      const std::size_t length = std::min(kDeliveryChunk, held_.size() - offset);
      Deliver(std::span<uint8_t>(held_.data() + offset, length));
    }
    held_.clear();
    held_.shrink_to_fit();
    return !failed_;
  }

  // The information frame over the start of the stream, wherever that start is held.
  void PlaceInfoFrame(std::span<const uint8_t> info) {
    if (!spill_) {
      std::copy(info.begin(), info.end(), held_.begin());
      return;
    }
    if (std::fseek(spill_.get(), 0, SEEK_SET) != 0 || std::fwrite(info.data(), 1, info.size(), spill_.get()) != info.size()) {
      failed_ = true;
    }
  }

  // Hands over what was spilled, in order, and forgets the spill file.
  void DeliverSpilled() {
    if (!spill_) return;
    if (std::fflush(spill_.get()) != 0 || std::fseek(spill_.get(), 0, SEEK_SET) != 0) failed_ = true;
    std::vector<uint8_t> chunk(kDeliveryChunk);
    for (uint64_t left = spilled_; left > 0 && !failed_;) {
      const std::size_t length = static_cast<std::size_t>(std::min<uint64_t>(kDeliveryChunk, left));
      if (std::fread(chunk.data(), 1, length, spill_.get()) != length) {
        failed_ = true;
        break;
      }
      Deliver(std::span<uint8_t>(chunk.data(), length));
      left -= length;
    }
    spill_.reset();
    spilled_ = 0;
  }

  // A long stream held back for its information frame goes to an unnamed temporary file, a
  // piece at a time, so the module's memory stays small whatever the length; when no such file
  // can be made it stays in memory.
  void Hold(std::span<const uint8_t> bytes) {
    held_.insert(held_.end(), bytes.begin(), bytes.end());
    if (held_.size() < kSpillBytes || failed_) return;
    if (!spill_ && !spillRefused_) {
      spill_.reset(std::tmpfile());
      spillRefused_ = !spill_;
    }
    if (!spill_) return;
    if (std::fwrite(held_.data(), 1, held_.size(), spill_.get()) != held_.size()) {
      failed_ = true;
      return;
    }
    spilled_ += held_.size();
    held_.clear();
  }

  bool Emit(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return !failed_;
    if (config_.infoFrame) {
      Hold(bytes);
      return !failed_;
    }
    outgoing_.assign(bytes.begin(), bytes.end());
    return Deliver(outgoing_);
  }

  bool Deliver(std::span<uint8_t> bytes) {
    if (failed_) return false;
    if (config_.output(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0) failed_ = true;
    return !failed_;
  }

  Configuration config_;
  LamePtr lame_;
  Phase phase_ = Phase::kIdle;
  bool failed_ = false;
  std::size_t frameBytes_ = 0;
  uint64_t remaining_ = 0;
  std::vector<uint8_t> request_;
  std::vector<int16_t> samples_;
  std::vector<uint8_t> encoded_;
  std::vector<uint8_t> outgoing_;
  std::vector<uint8_t> held_;
  std::unique_ptr<std::FILE, FileCloser> spill_;
  uint64_t spilled_ = 0;  // bytes of the stream in the spill file, ahead of held_
  bool spillRefused_ = false;
};

StreamEncoder& TheStream() {
  static StreamEncoder stream;
  return stream;
}

}  // namespace

MPGE_EXPORT int32_t MPGE_initializeWork() { return TheStream().Initialize(); }

MPGE_EXPORT int32_t MPGE_setConfigure(uint32_t item, uintptr_t first, uintptr_t second) {
  return TheStream().Set(item, first, second);
}

MPGE_EXPORT int32_t MPGE_getConfigure(uint32_t item, uintptr_t* value) { return TheStream().Get(item, value); }

MPGE_EXPORT int32_t MPGE_detectConfigure() { return TheStream().Detect(); }

MPGE_EXPORT int32_t MPGE_processFrame() { return TheStream().ProcessFrame(); }

MPGE_EXPORT int32_t MPGE_closeCoder() { return TheStream().Close(); }

MPGE_EXPORT int32_t MPGE_endCoder() { return TheStream().End(); }

MPGE_EXPORT int32_t MPGE_getVersion(uint32_t* version, char* text, uint32_t textLength) {
  if (version != nullptr) *version = kVersion;
  if (text != nullptr && textLength > 0) std::snprintf(text, textLength, "gogo.dll %u.%02u on LAME %s", kVersion / 100, kVersion % 100, get_lame_version());
  return kMpgeOk;
}

MPGE_EXPORT int32_t MPGE_getUnitStates(uint32_t* units) {
  if (units == nullptr) return kMpgeBadValue;
  *units = 1;
  return kMpgeOk;
}
