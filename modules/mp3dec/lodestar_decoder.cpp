// "Lodestar.ovl": the player's MP3 decoder plug-in, frame by frame on libmpg123.
//
// The player finds each frame itself (predecode tells it where a frame starts and how long it is)
// and hands the frame's bytes to decode. libmpg123 runs in feed mode with read-ahead off, so each
// whole frame fed is decoded at once, and with gapless trimming and info-frame parsing off, so
// every frame yields exactly its own samples: an encoder's info frame decodes as the silent frame
// it is. The stream keeps the format of its first frame; a frame of another sample rate, channel
// count, version or layer is not a frame of this stream and ends it.
//
// The handle the player holds points to the decoder's state. Its first bytes are the fields the
// player reads, written little-endian at the offsets lodestar_interface.h gives.
#include <mpg123.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>

#include "common/byte_io.h"
#include "modules/mp3dec/lodestar_interface.h"
#include "modules/mp3dec/mpeg_audio_header.h"

namespace reel {
namespace {

constexpr int32_t kDecoderVersion = 0x0100;
// Room for the fields the player reads, and more, at the start of the state.
constexpr std::size_t kFieldBytes = 128;
static_assert(kFieldBytes >= kLodestarFieldBytes);

// The definitions below must match the types the player calls them through.
static_assert(std::is_same_v<decltype(&__mp3_getdecver), LodestarGetDecoderVersion>);
static_assert(std::is_same_v<decltype(&__mp3_create), LodestarCreate>);
static_assert(std::is_same_v<decltype(&__mp3_destroy), LodestarDestroy>);
static_assert(std::is_same_v<decltype(&__mp3_predecode), LodestarPredecode>);
static_assert(std::is_same_v<decltype(&__mp3_decode), LodestarDecode>);

// Owns one libmpg123 handle.
class Mpg123Decoder {
 public:
  Mpg123Decoder() = default;
  Mpg123Decoder(const Mpg123Decoder&) = delete;
  Mpg123Decoder& operator=(const Mpg123Decoder&) = delete;
  ~Mpg123Decoder() {
    if (handle_ != nullptr) mpg123_delete(handle_);
  }

  bool Open(uint32_t sampleRate) {
    mpg123_init();  // a no-op on current libraries, needed on old ones
    handle_ = mpg123_new(nullptr, nullptr);
    if (handle_ == nullptr) return false;
    const long flags = MPG123_QUIET | MPG123_NO_READAHEAD | MPG123_IGNORE_INFOFRAME |
                       MPG123_SKIP_ID3V2 | MPG123_NO_PEEK_END;
    if (mpg123_param(handle_, MPG123_FLAGS, flags, 0.0) != MPG123_OK) return false;
    mpg123_format_none(handle_);
    if (mpg123_format(handle_, static_cast<long>(sampleRate), MPG123_MONO | MPG123_STEREO,
                      MPG123_ENC_SIGNED_16) != MPG123_OK) {
      return false;
    }
    return mpg123_open_feed(handle_) == MPG123_OK;
  }

  // Feeds one frame and returns its decoded bytes (16-bit, interleaved), or nothing.
  std::span<const uint8_t> DecodeFrame(std::span<const uint8_t> frame) {
    if (mpg123_feed(handle_, frame.data(), frame.size()) != MPG123_OK) return {};
    for (;;) {
      off_t frameNumber = 0;
      unsigned char* audio = nullptr;
      std::size_t bytes = 0;
      const int result = mpg123_decode_frame(handle_, &frameNumber, &audio, &bytes);
      if (result == MPG123_NEW_FORMAT) continue;  // the format was announced; decode again
      if (result != MPG123_OK || audio == nullptr) return {};
      return {audio, bytes};
    }
  }

 private:
  mpg123_handle* handle_ = nullptr;
};

struct DecoderState {
  std::array<uint8_t, kFieldBytes> fields{};  // what the player reads; must stay first
  MpegAudioHeader first;
  Mpg123Decoder decoder;
};
static_assert(std::is_standard_layout_v<DecoderState>);
static_assert(offsetof(DecoderState, fields) == 0);

template <std::size_t Offset, std::size_t Size>
std::span<uint8_t, Size> Field(DecoderState& state) {
  return std::span(state.fields).template subspan<Offset, Size>();
}

void StoreFrameFields(DecoderState& state, const MpegAudioHeader& header) {
  StoreU32(Field<kLodestarFrameLengthOffset, 4>(state), header.frameLength);
  StoreU32(Field<kLodestarBitRateOffset, 4>(state), header.bitRateKbps);
}

bool SameStream(const MpegAudioHeader& first, const MpegAudioHeader& next) {
  return first.versionBits == next.versionBits && first.layer == next.layer &&
         first.sampleRate == next.sampleRate && first.channels == next.channels;
}

std::optional<MpegAudioHeader> HeaderAt(const uint8_t* at) {
  if (at == nullptr) return std::nullopt;
  return ParseMpegAudioHeader(std::span<const uint8_t, 4>(at, 4));
}

DecoderState* StateOf(void* handle) { return static_cast<DecoderState*>(handle); }

}  // namespace
}  // namespace reel

extern "C" {

REEL_LODESTAR_EXPORT int32_t __mp3_getdecver() {
  return reel::kDecoderVersion;
}

REEL_LODESTAR_EXPORT void* __mp3_create(const uint8_t* firstFour) {
  const std::optional<reel::MpegAudioHeader> header = reel::HeaderAt(firstFour);
  if (!header) return nullptr;
  auto state = std::make_unique<reel::DecoderState>();
  if (!state->decoder.Open(header->sampleRate)) return nullptr;
  state->first = *header;
  reel::StoreU16(reel::Field<reel::kLodestarChannelsOffset, 2>(*state), header->channels);
  reel::StoreU32(reel::Field<reel::kLodestarSampleRateOffset, 4>(*state), header->sampleRate);
  reel::StoreFrameFields(*state, *header);
  return state.release();  // handed to the player; taken back by __mp3_destroy
}

REEL_LODESTAR_EXPORT void __mp3_destroy(void* handle) {
  std::unique_ptr<reel::DecoderState> state(reel::StateOf(handle));
}

REEL_LODESTAR_EXPORT int32_t __mp3_predecode(void* handle, const uint8_t* at) {
  if (handle == nullptr) return -1;
  reel::DecoderState& state = *reel::StateOf(handle);
  const std::optional<reel::MpegAudioHeader> header = reel::HeaderAt(at);
  if (!header || !reel::SameStream(state.first, *header)) return -1;
  reel::StoreFrameFields(state, *header);
  return 0;
}

REEL_LODESTAR_EXPORT int32_t __mp3_decode(void* handle, int16_t* pcm,
                                                            const uint8_t* frame) {
  if (handle == nullptr || pcm == nullptr || frame == nullptr) return 0;
  reel::DecoderState& state = *reel::StateOf(handle);
  const uint32_t length = reel::LoadU32(reel::Field<reel::kLodestarFrameLengthOffset, 4>(state));
  const std::span<const uint8_t> decoded = state.decoder.DecodeFrame({frame, length});
  const std::size_t frameBytes = 2u * state.first.channels;
  const std::size_t bytes = std::min(decoded.size(), reel::kLodestarPcmAreaBytes) / frameBytes * frameBytes;
  std::memcpy(pcm, decoded.data(), bytes);
  return static_cast<int32_t>(bytes / frameBytes);
}

}  // extern "C"
