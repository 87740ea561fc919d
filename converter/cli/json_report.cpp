#include "converter/cli/json_report.h"

#include <algorithm>

#include "common/json_output.h"

namespace reel {
namespace {

const char* ResultName(JobStatus status) {
  switch (status) {
    case JobStatus::kSucceeded: return "succeeded";
    case JobStatus::kStopped: return "stopped";
    case JobStatus::kFailed: break;
  }
  return "failed";
}

JsonValue File(const std::string& path, uint64_t bytes) { return JsonValue{{"path", path}, {"bytes", bytes}}; }

JsonValue ResultLine(const std::string& source, const char* result) {
  return JsonValue{{"type", "result"}, {"source", source}, {"result", result}, {"files", JsonValue::array()},
                   {"warnings", JsonValue::array()}};
}

}  // namespace

std::string ProgressJson(const std::string& source, int32_t done, int32_t total, double elapsedSeconds) {
  JsonValue line{{"type", "progress"}, {"source", source}, {"framesDone", done}, {"framesTotal", total},
                 {"fps", nullptr}, {"secondsLeft", nullptr}};
  if (elapsedSeconds > 0.0 && done > 0) {
    const double rate = done / elapsedSeconds;
    line["fps"] = static_cast<double>(static_cast<int64_t>(rate * 10.0)) / 10.0;
    line["secondsLeft"] = static_cast<int64_t>(std::max(0, total - done) / rate);
  }
  return JsonLine(line);
}

std::string ResultJson(const std::string& source, const JobReport& report) {
  JsonValue line = ResultLine(source, ResultName(report.status));
  if (!report.moviePath.empty()) {
    line["files"].push_back(File(report.moviePath, report.movieBytes));
    line["frames"] = report.frames;
    line["width"] = report.width;
    line["height"] = report.height;
    line["movieRate"] = report.movieRate;
    line["sourceRate"] = report.sourceRate;
  }
  if (!report.audioPath.empty()) line["files"].push_back(File(report.audioPath, report.audioBytes));
  for (const std::string& warning : report.warnings) line["warnings"].push_back(warning);
  if (report.status == JobStatus::kFailed) line["error"] = report.error;
  return JsonLine(line);
}

std::string SkippedJson(const std::string& source, const std::string& movie) {
  JsonValue line = ResultLine(source, "skipped");
  line["existing"] = movie;
  return JsonLine(line);
}

std::string FailedJson(const std::string& source, const std::string& error) {
  JsonValue line = ResultLine(source, "failed");
  line["error"] = error;
  return JsonLine(line);
}

}  // namespace reel
