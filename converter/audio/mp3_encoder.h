// The MP3 encoder front end: gogo.dll, loaded at run time for each encoding, fed through two
// callbacks from a PCM block in memory, its output collected in memory; or fed from a soundtrack
// in pieces, pulled as the module asks for input, its output handed on as the module gives it.
//
// The module's callbacks carry no context, so the block being encoded and the output collected
// from it live in one process-wide encoder state. Encodings therefore take turns: the state's lock
// is held for the whole of each one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "converter/audio/audio_outcome.h"
#include "converter/audio/sound_pieces.h"
#include "converter/choices/job_choices.h"
#include "modules/mp3enc/mpge_interface.h"
#include "platform/acm/wave_format.h"
#include "platform/module/loadable_module.h"

namespace reel {

inline constexpr const char* kMp3ModuleName = "gogo.dll";
inline constexpr const char* kMp3RegistryKey = "Software\\MarineCat\\GOGO_DLL";
inline constexpr const char* kMp3RegistryValue = "INSTPATH";

inline constexpr int32_t kMp3LoadOk = 0;
inline constexpr int32_t kMp3LoadFailed = 12;

// The bit rate (kStereoBitRates, halved for mono) asked of the module, or 0 for an index outside the table.
uint32_t Mp3BitRate(int32_t bitRateIndex, bool stereo);

// The size the output block starts at: half the input when the input is 2 MiB or longer, else
// 2 MiB. Constant-rate MP3 stays below half of 16-bit PCM at every offered rate; should a stream
// outgrow its block anyway, the block grows.
std::size_t Mp3OutputBlockSize(std::size_t inputLength);

// The process-wide state the two callbacks work on.
class Mp3EncoderState {
 public:
  static Mp3EncoderState& Instance();

  // Held for the whole of an encoding.
  std::mutex& Lock() { return lock_; }

  // Starts an encoding of `input` (which must outlive it): nothing consumed, a fresh output block.
  void Begin(std::span<const uint8_t> input);
  // Starts an encoding of a soundtrack in pieces, pulled as the module asks for input, whose bytes
  // go to `output` as the module hands them over (no output block). Both must outlive it.
  void BeginPieces(SoundPieces& input, const EncodedOutput& output);
  // The first error of the pieces or the output in this encoding, if any.
  const Status& PiecesStatus() const { return piecesStatus_; }
  // Hands the output over and forgets it.
  std::vector<uint8_t> TakeOutput();
  // Forgets the input and frees an output block that was not handed over.
  void DiscardOutput();

  std::size_t OutputCapacity() const { return output_.capacity(); }
  MpgeInputDescription& Description() { return description_; }

  int32_t ReadInput(void* buffer, uint32_t length);
  int32_t WriteOutput(const void* buffer, uint32_t length);

 private:
  std::mutex lock_;
  // Fills the queue from the pieces until it holds `length` bytes or the sound has ended.
  void PullPieces(std::size_t length);

  std::span<const uint8_t> input_;
  std::size_t consumed_ = 0;
  std::vector<uint8_t> output_;
  SoundPieces* pieces_ = nullptr;
  const EncodedOutput* pieceOutput_ = nullptr;
  std::vector<uint8_t> queue_;  // pulled from the pieces, not yet asked for
  std::size_t queueStart_ = 0;
  bool piecesEnded_ = false;
  Status piecesStatus_;
  MpgeInputDescription description_{};
};

// The module's input function: copies the next `length` bytes of the input. The last request is
// padded with zero bytes (silence); once everything is consumed it returns 1, the end of input.
int32_t Mp3ReadInput(void* buffer, uint32_t length);
// The module's output function: appends the bytes to the output block (a null buffer is ignored).
// Always returns 0.
int32_t Mp3WriteOutput(void* buffer, uint32_t length);

// One encoding's hold on gogo.dll.
class Mp3EncoderLib {
 public:
  // Stores the bit rate in kbit/s and loads the module.
  explicit Mp3EncoderLib(uint32_t bitRate);
  ~Mp3EncoderLib();
  Mp3EncoderLib(const Mp3EncoderLib&) = delete;
  Mp3EncoderLib& operator=(const Mp3EncoderLib&) = delete;

  // Loads "gogo.dll" by the normal library search, else from the path in the registry value
  // INSTPATH of Software\MarineCat\GOGO_DLL, and looks up the nine entry points. Returns 0 when
  // loaded (at once when it already is), 12 when the module is nowhere or lacks an entry point.
  int32_t Load();

  // Encodes the PCM block (8 or 16 bits, 1 or 2 channels, an MPEG sample rate) at the stored bit
  // rate. Nothing when the module is not loaded or refuses the configuration; otherwise the whole
  // stream, even when the module stopped early on an error.
  std::optional<std::vector<uint8_t>> Encode(std::span<const uint8_t> pcm, const WAVEFORMATEX& format);
  // The same over a soundtrack in pieces of `size` bytes in all, the stream's bytes handed to
  // `output` as they come. False when the module is not loaded or refuses the configuration; an
  // error of the pieces or the output ends the encoding with that error.
  Result<bool> EncodePieces(SoundPieces& pcm, uint64_t size, const WAVEFORMATEX& format, const EncodedOutput& output);

  // Unloads the module and frees an output block the encoder state still holds.
  void Release();

  bool Loaded() const { return module_.has_value(); }

 private:
  struct EntryPoints {
    MpgeInitializeWork initializeWork = nullptr;
    MpgeSetConfigure setConfigure = nullptr;
    MpgeGetConfigure getConfigure = nullptr;
    MpgeDetectConfigure detectConfigure = nullptr;
    MpgeProcessFrame processFrame = nullptr;
    MpgeCloseCoder closeCoder = nullptr;
    MpgeEndCoder endCoder = nullptr;
    MpgeGetVersion getVersion = nullptr;
    MpgeGetUnitStates getUnitStates = nullptr;
  };

  bool LookUpEntryPoints();
  void Configure(const WAVEFORMATEX& format);

  std::optional<LoadableModule> module_;
  uint32_t bitRate_;
  EntryPoints entries_;
};

// Encodes a soundtrack to MP3: the block is brought to the companion target format (44100 Hz with
// `highRate`, else 22050 Hz; stereo with `stereo`, else mono) when its rate, channels or width
// differ, then encoded at the bit rate of `bitRateIndex` (halved for mono). The encoder field of
// `sound` is not read. The PCM block stays the caller's. When the module cannot be loaded nothing
// is converted or encoded.
EncodedAudio EncodeMp3(std::span<const uint8_t> pcm, const WAVEFORMATEX& format, const SoundSettings& sound);

// EncodeMp3 over a soundtrack in pieces (in `format`), counted first for its length, which the
// module is told first, then encoded: from the bytes the count kept (CountedSound, kKeptSoundBudget),
// or opened afresh when the track is longer. The stream's bytes go to `output` as they
// come: joined, they are what EncodeMp3 gives for the whole soundtrack. The outcome as EncodeMp3
// would report it, or the first error of the pieces or the output.
Result<AudioOutcome> EncodeMp3Pieces(const SoundPiecesOpener& open, const WAVEFORMATEX& format, const SoundSettings& sound,
                                     const EncodedOutput& output);

}  // namespace reel
