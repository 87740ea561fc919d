// The conversion job's shell on its worker thread: it runs the job's sequence (job_sequence.h) and,
// whatever the outcome, hands the report over and sets `finished`.
#include "converter/engine/conversion_job.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "common/string_search.h"
#include "converter/engine/frame_pipeline.h"
#include "converter/engine/job_sequence.h"

namespace reel {

bool IsMjPath(const std::string& path) {
  const auto dot = FindLastChar(path, '.');
  return dot && EqualNoCase(std::string_view(path).substr(*dot), ".mj");
}

namespace {

// The job's side of its sequence: its progress fields and the thread framework's stop request.
class ThreadJobControl final : public JobControl {
 public:
  explicit ThreadJobControl(CWavFileMake& job) : job_(job) {}
  void CheckStop() const override { job_.CheckKilled(); }
  bool StopRequested() const override { return job_.ControlState() == kControlStopRequested; }
  std::atomic<int32_t>& FramesDone() override { return job_.framesDone; }
  std::atomic<int32_t>& FramesTotal() override { return job_.framesTotal; }
  std::atomic<int32_t>& SourceRate() override { return job_.sourceRate; }

 private:
  CWavFileMake& job_;
};

}  // namespace

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
    ThreadJobControl control(*this);
    const Status outcome = JobSequence(settings_, control, frameCoders_, report).Execute();
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
