// The companion file of every source kind, made in pieces on the sound task (see
// companion_writing.cpp). The work functions read nothing but their arguments, so they may run
// beside the frame loop; each leaves its file staged in the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "converter/engine/job_settings.h"
#include "converter/engine/mj_sound.h"
#include "converter/engine/sound_task.h"
#include "platform/mediagraph/source_format.h"

namespace reel {

class AviFile;

// What a ".mj" companion is made from: where the sound lies, and the warnings that gives, in the
// order the job reports them.
struct MjSoundPlan {
  MjSoundLayout layout;
  std::vector<std::string> warnings;
};

// The companion of AVI sound stream `stream`, whose format block is `format`. `lead` is how much
// later (100-ns units) the stream begins than the movie's first picture: the companion is led with
// that much silence.
CompanionResult AviCompanion(const JobSettings& settings, const AviFile& file, uint32_t stream,
                             const std::vector<uint8_t>& format, uint64_t lead, const SoundTask::StopCheck& stopped);
CompanionResult MjCompanion(const JobSettings& settings, const MjSoundPlan& plan, const SoundTask::StopCheck& stopped);
// `startAt`: where the movie's first picture lies on the source's timeline (100-ns units); the
// companion begins there. None: it begins with the soundtrack's first sample. `format` is the media
// graph's verdict on the source, so that the soundtrack's openings do not probe it again.
CompanionResult MediaCompanion(const JobSettings& settings, std::optional<int64_t> startAt,
                               const std::optional<SourceFormat>& format, const SoundTask::StopCheck& stopped);

}  // namespace reel
