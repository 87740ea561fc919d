// The one place where the dialog's settings become a conversion job's settings.
#pragma once

#include <cstdint>

#include "converter/engine/conversion_job.h"
#include "converter/front/dialog_settings.h"

namespace reel {

// 0 for "GOGO.DLL[MP3]", 1 for "OGGENC.DLL[OGG]", as the radio buttons stand at Start.
inline constexpr int32_t kEncoderMp3 = 0;
inline constexpr int32_t kEncoderOgg = 1;

JobSettings MakeJobSettings(const DialogSettings& settings, int32_t encoderChoice);

}  // namespace reel
