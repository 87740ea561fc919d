// The companion file of every source kind, made in pieces on the sound task (see
// companion_writing.cpp). The work functions read nothing but their arguments, so they may run
// beside the frame loop; each leaves its file staged in the result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "converter/engine/job_settings.h"
#include "converter/engine/mj_sound.h"
#include "converter/engine/sound_task.h"

namespace reel {

class AviFile;

// What a ".mj" companion is made from: where the sound lies, and the warnings that gives, in the
// order the job reports them.
struct MjSoundPlan {
  MjSoundLayout layout;
  std::vector<std::string> warnings;
};

// The companion of AVI sound stream `stream`, whose format block is `format`.
CompanionResult AviCompanion(const JobSettings& settings, const AviFile& file, uint32_t stream,
                             const std::vector<uint8_t>& format, const SoundTask::StopCheck& stopped);
CompanionResult MjCompanion(const JobSettings& settings, const MjSoundPlan& plan, const SoundTask::StopCheck& stopped);
CompanionResult MediaCompanion(const JobSettings& settings, const SoundTask::StopCheck& stopped);

}  // namespace reel
