// Output files that appear only when complete.
//
// A job writes each output file under a temporary name in the output folder (a hidden name that
// does not end in the output's extension) and renames it to its real name once it is complete.
// A job that fails or is stopped removes what it wrote, so it never leaves a ".qrx" that looks
// like a movie, and a file of the real name that existed before is kept until the new one is
// ready.
#pragma once

#include <optional>
#include <string>

#include "common/result.h"

namespace reel {

class StagedOutput {
 public:
  // Reserves a temporary name beside `finalPath` (an empty file is created there), or a
  // kCannotWrite error when the folder cannot take it.
  static Result<StagedOutput> Create(const std::string& finalPath);

  StagedOutput(StagedOutput&& other) noexcept;
  StagedOutput& operator=(StagedOutput&& other) noexcept;
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~StagedOutput();

  const std::string& TemporaryPath() const { return temporaryPath_; }
  const std::string& FinalPath() const { return finalPath_; }

  // Renames the temporary file to its real name, replacing a file of that name. A kCannotWrite
  // error (the temporary file removed) when the rename fails.
  Status Commit();

 private:
  StagedOutput(std::string finalPath, std::string temporaryPath);
  void Discard();

  std::string finalPath_;
  std::string temporaryPath_;
};

// True when the two paths name the same file: the same existing file (however it is spelled,
// hard links included) or, when one does not exist, the same normalised absolute path.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace reel
