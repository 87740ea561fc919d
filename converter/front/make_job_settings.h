// The one place where the dialog's settings become a conversion job's settings.
#pragma once

#include <cstdint>

#include "converter/engine/conversion_job.h"
#include "converter/front/dialog_settings.h"

namespace reel {

// `encoderChoice` as the radio buttons stand at Start.
JobSettings MakeJobSettings(const DialogSettings& settings, AudioEncoder encoderChoice);

}  // namespace reel
