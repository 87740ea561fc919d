// --progress=json: the lines a script or a front end follows a batch by, one JSON object each.
//
//   {"type":"progress","source":S,"framesDone":D,"framesTotal":T,"fps":F,"secondsLeft":L}
//   {"type":"result","source":S,"result":"succeeded"|"failed"|"stopped"|"skipped",
//    "files":[{"path":P,"bytes":N},...],"warnings":[...],"error":E}
//
// fps and secondsLeft are null until a frame is done; "error" is there only for a failure,
// "existing" (the movie that made it skipped) only for a skipped source, and "frames", "width",
// "height", "movieRate" and "sourceRate" only for a movie written. Text that is not UTF-8 has
// each bad byte sequence replaced by U+FFFD (json_output.h).
#pragma once

#include <cstdint>
#include <string>

#include "converter/engine/conversion_job.h"

namespace reel {

std::string ProgressJson(const std::string& source, int32_t done, int32_t total, double elapsedSeconds);

// The result of a job that ran.
std::string ResultJson(const std::string& source, const JobReport& report);

// A source that did not run: "skipped" because `movie` exists, or "failed" with `error`.
std::string SkippedJson(const std::string& source, const std::string& movie);
std::string FailedJson(const std::string& source, const std::string& error);

}  // namespace reel
