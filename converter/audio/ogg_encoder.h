// The Ogg Vorbis encoder front end over the import-linked Ogg encoder library.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "converter/audio/audio_outcome.h"
#include "converter/audio/sound_pieces.h"
#include "converter/choices/job_choices.h"
#include "platform/acm/wave_format.h"

namespace reel {

// Variable-bit-rate qualities by quality index, the whole span the encoder offers.
inline constexpr std::array<float, 12> kOggQualities = {-0.1f, 0.0f, 0.1f, 0.2f, 0.3f, 0.4f,
                                                        0.5f,  0.6f, 0.7f, 0.8f, 0.9f, 1.0f};

// The quality index for the dialog's bit-rate index: two lower, and 0 for indices 0 and 1. So the
// three lowest bit rates share the lowest quality, and the highest bit rate reaches 0.9.
int32_t OggQualityIndex(int32_t bitRateIndex);

// Encodes a soundtrack to a complete Ogg Vorbis stream: the block is brought to the companion
// target format when its rate, channels or width differ, then encoded whole at the quality of
// the bit-rate index's quality index (OggQualityIndex). The encoder field of `sound` is not read.
// The PCM block stays the caller's.
EncodedAudio EncodeOgg(std::span<const uint8_t> pcm, const WAVEFORMATEX& format, const SoundSettings& sound);

// EncodeOgg over a soundtrack in pieces (in `format`), the stream's bytes handed to `output` as
// they come: joined, they are what EncodeOgg gives for the whole soundtrack. The outcome as
// EncodeOgg would report it, or the first error of the pieces or the output.
Result<AudioOutcome> EncodeOggPieces(const SoundPiecesOpener& open, const WAVEFORMATEX& format, const SoundSettings& sound,
                                     const EncodedOutput& output);

}  // namespace reel
