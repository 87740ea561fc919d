// Ogg Vorbis encoding of a whole PCM block on libvorbisenc.
//
// The samples go to the analysis in slices of a fixed size; every page the stream produces is
// appended to one growing buffer, which is copied into memory the caller frees when the stream has
// ended. The stream's serial number is fixed, so the same input always gives the same bytes.
#include "modules/oggenc/ogg_encode_memory.h"

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace {

constexpr int kSerialNumber = 0x5245454C;
constexpr std::size_t kSliceFrames = 1024;
constexpr float kLowestQuality = -0.1f;
constexpr float kHighestQuality = 1.0f;

bool FormatAccepted(const reel::WAVEFORMATEX& format) {
  return format.formatTag == reel::kWaveFormatPcm && format.bitsPerSample == 16 &&
         (format.channels == 1 || format.channels == 2) && format.samplesPerSec >= 8000 &&
         format.samplesPerSec <= 192000;
}

// One encoding session; the library's structures are cleared in reverse order of setting up.
class VorbisSession {
 public:
  VorbisSession() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
  }
  ~VorbisSession() {
    if (streamReady_) ogg_stream_clear(&stream_);
    if (analysisReady_) {
      vorbis_block_clear(&block_);
      vorbis_dsp_clear(&dsp_);
    }
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
  }
  VorbisSession(const VorbisSession&) = delete;
  VorbisSession& operator=(const VorbisSession&) = delete;

  bool Start(int channels, long rate, float quality) {
    if (vorbis_encode_init_vbr(&info_, channels, rate, quality) != 0) return false;
    vorbis_comment_add_tag(&comment_, "ENCODER", "Reelforge");
    if (vorbis_analysis_init(&dsp_, &info_) != 0) return false;
    vorbis_block_init(&dsp_, &block_);
    analysisReady_ = true;
    if (ogg_stream_init(&stream_, kSerialNumber) != 0) return false;
    streamReady_ = true;
    return WriteHeaders();
  }

  void Encode(std::span<const uint8_t> pcm, int channels) {
    EncodeSlices(pcm, channels, true);
    End();
  }

  // Encodes whole slices of kSliceFrames from `pcm`, and with `last` the whole frames left too.
  // Returns the number of bytes used.
  std::size_t EncodeSlices(std::span<const uint8_t> pcm, int channels, bool last) {
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
    const std::size_t frames = pcm.size() / frameBytes;
    std::size_t done = 0;
    while (done < frames && (last || frames - done >= kSliceFrames)) {
      const std::size_t count = std::min(kSliceFrames, frames - done);
      float** buffers = vorbis_analysis_buffer(&dsp_, static_cast<int>(count));
      for (std::size_t i = 0; i < count; ++i) {
        for (int c = 0; c < channels; ++c) {
          const std::size_t at = (done + i) * frameBytes + static_cast<std::size_t>(c) * 2;
          const auto sample = static_cast<int16_t>(pcm[at] | (pcm[at + 1] << 8));
          buffers[c][i] = static_cast<float>(sample) / 32768.0f;
        }
      }
      vorbis_analysis_wrote(&dsp_, static_cast<int>(count));
      Drain();
      done += count;
    }
    return done * frameBytes;
  }

  void End() {
    vorbis_analysis_wrote(&dsp_, 0);
    Drain();
  }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  // Pages go to `output` as they are made instead of collecting in Bytes().
  void SendTo(OggOutputFunction output, void* context) {
    output_ = output;
    context_ = context;
  }
  bool Failed() const { return failed_; }

 private:
  bool WriteHeaders() {
    ogg_packet identification;
    ogg_packet comments;
    ogg_packet codebooks;
    if (vorbis_analysis_headerout(&dsp_, &comment_, &identification, &comments, &codebooks) != 0) return false;
    ogg_stream_packetin(&stream_, &identification);
    ogg_stream_packetin(&stream_, &comments);
    ogg_stream_packetin(&stream_, &codebooks);
    // The audio starts on a page of its own.
    ogg_page page;
    while (ogg_stream_flush(&stream_, &page) != 0) Append(page);
    return true;
  }

  void Drain() {
    while (vorbis_analysis_blockout(&dsp_, &block_) == 1) {
      vorbis_analysis(&block_, nullptr);
      vorbis_bitrate_addblock(&block_);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp_, &packet) == 1) {
        ogg_stream_packetin(&stream_, &packet);
        ogg_page page;
        while (ogg_stream_pageout(&stream_, &page) != 0) Append(page);
      }
    }
    ogg_page page;
    if (ogg_stream_eos(&stream_) != 0) {
      while (ogg_stream_flush(&stream_, &page) != 0) Append(page);
    }
  }

  void Append(const ogg_page& page) {
    if (output_ != nullptr) {
      if (failed_) return;
      failed_ = output_(context_, page.header, static_cast<int32_t>(page.header_len)) != 0 ||
                output_(context_, page.body, static_cast<int32_t>(page.body_len)) != 0;
      return;
    }
    bytes_.insert(bytes_.end(), page.header, page.header + page.header_len);
    bytes_.insert(bytes_.end(), page.body, page.body + page.body_len);
  }

  vorbis_info info_{};
  vorbis_comment comment_{};
  vorbis_dsp_state dsp_{};
  vorbis_block block_{};
  ogg_stream_state stream_{};
  bool analysisReady_ = false;
  bool streamReady_ = false;
  std::vector<uint8_t> bytes_;
  OggOutputFunction output_ = nullptr;
  void* context_ = nullptr;
  bool failed_ = false;
};

// A session fed in pieces: the part of a slice not yet complete waits here.
struct PieceSession {
  VorbisSession session;
  int channels = 0;
  std::vector<uint8_t> pending;
};

void* Refuse(int32_t* length) {
  if (length != nullptr) *length = 0;
  return nullptr;
}

}  // namespace

extern "C" OGGENC_API void* GetOggEncodeProcessMemory(float quality, const reel::WAVEFORMATEX* format,
                                                      const void* pcm, int32_t* length) {
  if (format == nullptr || length == nullptr || *length < 0) return Refuse(length);
  if (pcm == nullptr && *length > 0) return Refuse(length);
  if (!FormatAccepted(*format) || !std::isfinite(quality) || quality < kLowestQuality || quality > kHighestQuality) {
    return Refuse(length);
  }
  VorbisSession session;
  if (!session.Start(format->channels, static_cast<long>(format->samplesPerSec), quality)) return Refuse(length);
  const std::span<const uint8_t> samples(static_cast<const uint8_t*>(pcm), static_cast<std::size_t>(*length));
  session.Encode(samples, format->channels);
  const std::vector<uint8_t>& bytes = session.Bytes();
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return Refuse(length);
  // The caller frees the stream with free(), so it is handed over in memory from malloc.
  void* stream = std::malloc(bytes.size());
  if (stream == nullptr) return Refuse(length);
  std::memcpy(stream, bytes.data(), bytes.size());
  *length = static_cast<int32_t>(bytes.size());
  return stream;
}

extern "C" OGGENC_API void* OggEncodeBegin(float quality, const reel::WAVEFORMATEX* format, OggOutputFunction output,
                                           void* context) {
  if (format == nullptr || output == nullptr || !FormatAccepted(*format) || !std::isfinite(quality) ||
      quality < kLowestQuality || quality > kHighestQuality) {
    return nullptr;
  }
  auto piece = std::make_unique<PieceSession>();
  piece->channels = format->channels;
  piece->session.SendTo(output, context);
  if (!piece->session.Start(format->channels, static_cast<long>(format->samplesPerSec), quality) ||
      piece->session.Failed()) {
    return nullptr;
  }
  return piece.release();
}

extern "C" OGGENC_API int32_t OggEncodeWrite(void* session, const void* pcm, int32_t length) {
  if (session == nullptr || length < 0 || (pcm == nullptr && length > 0)) return 1;
  auto* piece = static_cast<PieceSession*>(session);
  const auto* bytes = static_cast<const uint8_t*>(pcm);
  piece->pending.insert(piece->pending.end(), bytes, bytes + length);
  const std::size_t used = piece->session.EncodeSlices(piece->pending, piece->channels, false);
  piece->pending.erase(piece->pending.begin(), piece->pending.begin() + static_cast<std::ptrdiff_t>(used));
  return piece->session.Failed() ? 1 : 0;
}

extern "C" OGGENC_API int32_t OggEncodeEnd(void* session, int32_t complete) {
  if (session == nullptr) return 1;
  const std::unique_ptr<PieceSession> piece(static_cast<PieceSession*>(session));
  if (complete == 0) return 0;
  piece->session.EncodeSlices(piece->pending, piece->channels, true);
  piece->session.End();
  return piece->session.Failed() ? 1 : 0;
}
