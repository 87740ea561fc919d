// The choices a conversion job is made with, as the dialog lists them and the job record stores
// them: one definition for the dialog, the terminal program, the job, the encoders and the movie
// writer.
//
// Each enumerator carries the number the record stores (the index of its list entry), so a front
// end converts a checked list index with a plain cast.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reel {

enum class SourceKind : int32_t { kVideoFile = 0, kMj = 1 };
enum class AudioRate : int32_t { k22050 = 0, k44100 = 1 };
enum class Channels : int32_t { kMono = 0, kStereo = 1 };
// The companion encoder: "GOGO.DLL[MP3]" or "OGGENC.DLL[OGG]".
enum class AudioEncoder : int32_t { kMp3 = 0, kOgg = 1 };
enum class PlaybackMode : int32_t { kFrameSync = 0, kTimeSync = 1 };
enum class FrameRateOverride : int32_t { kAutomatic = 0, k30 = 1, k24 = 2, k15 = 3 };
// The frame-rate choices: at most 15, at most 30 and at most 10 frames per second.
enum class FrameRateChoice : int32_t { kStandard = 0, kHighest = 1, kLowest = 2 };
// The picture-size choices: the box 320 x 240 or 640 x 480.
enum class PictureSizeChoice : int32_t { k320x240 = 0, k640x480 = 1 };

// The box of a picture-size choice.
constexpr uint32_t BoxWidth(PictureSizeChoice choice) { return choice == PictureSizeChoice::k640x480 ? 640 : 320; }
constexpr uint32_t BoxHeight(PictureSizeChoice choice) { return choice == PictureSizeChoice::k640x480 ? 480 : 240; }

// Stereo bit rates in kbit/s by the bit-rate index; mono uses half of each.
inline constexpr std::array<uint32_t, 13> kStereoBitRates = {16, 32, 48, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
inline constexpr int32_t kDefaultBitRateIndex = 3;  // "64/32kbit"

// The bit-rate list's labels, in order: "16/8kbit" ... "320/160kbit".
const std::vector<std::string>& BitRateLabels();

// The quality entries "100%" ... "5%": entry i is the JPEG quality 100 - 5 x i.
inline constexpr int32_t kQualityLevels = 20;
inline constexpr int32_t kQualityStep = 5;
constexpr int32_t QualityPercent(int32_t qualityIndex) { return 100 - kQualityStep * qualityIndex; }
constexpr bool IsQualityIndex(int32_t qualityIndex) { return qualityIndex >= 0 && qualityIndex < kQualityLevels; }
// The entry of a percentage, none for one that is not in the list.
std::optional<int32_t> QualityIndexForPercent(int32_t percent);
// The quality list's labels, in order: "100%" ... "5%".
const std::vector<std::string>& QualityLabels();

// How a companion file is encoded, from the job's settings down to the encoders.
struct SoundSettings {
  AudioEncoder encoder = AudioEncoder::kMp3;
  int32_t bitRateIndex = kDefaultBitRateIndex;  // into the bit-rate list
  bool highRate = false;                        // 44100 Hz, else 22050 Hz
  bool stereo = true;
};

}  // namespace reel
