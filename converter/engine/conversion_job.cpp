// The conversion job's first steps and its end: the quality index becomes the JPEG quality, the
// source goes to the AVI or the ".mj" job, and whatever the outcome the report is handed over.
//
// Everything a job could refuse is checked before anything is written: a source that cannot be
// read, a source rate of 0, an output name that is the source itself. After that, damage in the
// source costs a repeated frame or an empty companion file and a warning; only an output file
// that cannot be written stops the job.
#include "converter/engine/conversion_job.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "common/string_search.h"
#include "converter/engine/frame_pipeline.h"
#include "converter/engine/job_run.h"
#include "converter/engine/output_name.h"
#include "converter/engine/staged_output.h"

namespace reel {

bool IsMjPath(const std::string& path) {
  const auto dot = FindLastChar(path, '.');
  return dot && EqualNoCase(std::string_view(path).substr(*dot), ".mj");
}

Result<int32_t> JpegQualityForLevel(int32_t qualityIndex) {
  if (!IsQualityIndex(qualityIndex)) {
    return MakeError(ErrorKind::kUsage, "",
                     "quality level " + std::to_string(qualityIndex) + " is not one of the 20 levels");
  }
  return QualityPercent(qualityIndex);
}

Status CWavFileMake::Run::Execute() {
  if (Status quality = TakeJpegQuality(); !quality) return quality;
  if (settings_.outputFolder.empty()) return MakeError(ErrorKind::kUsage, "", "no output folder was given");
  const Status body = settings_.sourceKind == SourceKind::kMj ? RunMj() : RunVideoFile();
  if (!body) return outputs_.InRealNames(body.error());
  return outputs_.CommitAll();
}

// The record's quality field holds the entry's index until here and the JPEG quality from here on.
Status CWavFileMake::Run::TakeJpegQuality() {
  const Result<int32_t> quality = JpegQualityForLevel(settings_.pictureQuality);
  if (!quality) return quality.error();
  settings_.pictureQuality = *quality;
  return {};
}

Error CWavFileMake::Run::SourceError(ErrorKind kind, const std::string& what) const {
  return MakeError(kind, settings_.sourcePath, what);
}

std::string CWavFileMake::Run::OutputName(const char* extension) const {
  return MakeOutputName(settings_.outputFolder, settings_.sourcePath, extension);
}

// The user's source is never an output's target.
Status CWavFileMake::Run::RefuseOutputOverSource(const char* extension) const {
  const std::string name = OutputName(extension);
  if (!SameFile(name, settings_.sourcePath)) return {};
  return SourceError(ErrorKind::kRefused,
                     "the output " + name + " would replace the source itself; choose another output folder");
}

CWavFileMake::CWavFileMake(JobSettings settings)
    : settings_(std::move(settings)), frameCoders_(FramePipeline::DefaultCoders()) {}

// Ends the report of a job that did not run to its end. Its outputs are stored under their real
// names only at the very end, so its staged files went with the run and older files of the same
// names are untouched. Nothing here may throw: the job's thread must always reach its finished flag.
void CWavFileMake::EndWithoutOutput(JobReport& report, JobStatus status, const char* why,
                                    const char* detail) const noexcept {
  report = JobReport();
  report.status = status;
  try {
    report.error = settings_.sourcePath + ": " + why;
    if (detail != nullptr && *detail != '\0') report.error += std::string(" (") + detail + ")";
  } catch (...) {
    report.error.clear();
  }
}

uint32_t CWavFileMake::RunThread() {
  if (finished.load() == 1) return 0;
  JobReport report;
  uint32_t code = 1;
  try {
    const Status outcome = Run(*this, report).Execute();
    if (outcome) {
      report.status = JobStatus::kSucceeded;
      code = 0;
    } else {
      report.status = JobStatus::kFailed;
      report.error = outcome.error().message;
      report.moviePath.clear();  // nothing was stored
      report.audioPath.clear();
    }
  } catch (const CExKilledByCtrl&) {
    EndWithoutOutput(report, JobStatus::kStopped, "stopped; no output was kept");
  } catch (const std::bad_alloc&) {
    EndWithoutOutput(report, JobStatus::kFailed, "out of memory; no output was kept");
  } catch (const std::exception& failure) {
    // For instance a thread of the frame loop that could not be started (std::system_error).
    EndWithoutOutput(report, JobStatus::kFailed, "the conversion failed; no output was kept", failure.what());
  } catch (...) {
    EndWithoutOutput(report, JobStatus::kFailed, "the conversion failed; no output was kept");
  }
  report_ = std::move(report);
  finished.store(1, std::memory_order_release);
  return code;
}

}  // namespace reel
