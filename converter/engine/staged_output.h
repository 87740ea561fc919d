// Output files that appear only when complete.
//
// A job writes each output file under a temporary name in the output folder (a hidden name that
// does not end in the output's extension) and renames it to its real name once it is complete.
// A job that fails or is stopped removes what it wrote, so it never leaves a ".qrx" that looks
// like a movie, and a file of the real name that existed before is kept until the new one is
// ready.
#pragma once

#include <list>
#include <optional>
#include <string>

#include "common/result.h"

namespace reel {

class StagedOutput {
 public:
  // Reserves a temporary name beside `finalPath` (an empty file is created there), or a
  // kCannotWrite error when the folder cannot take it or the name is too long for its file system.
  static Result<StagedOutput> Create(const std::string& finalPath);

  StagedOutput(StagedOutput&& other) noexcept;
  StagedOutput& operator=(StagedOutput&& other) noexcept;
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~StagedOutput();

  const std::string& TemporaryPath() const { return temporaryPath_; }
  const std::string& FinalPath() const { return finalPath_; }

  // Flushes the temporary file and renames it to its real name, replacing a file of that name. A
  // kCannotWrite error (the temporary file removed, an older file of the name kept) when that fails.
  Status Commit();

 private:
  friend class StagedOutputs;
  StagedOutput(std::string finalPath, std::string temporaryPath);
  void Discard();

  std::string finalPath_;
  std::string temporaryPath_;
};

// The outputs of one job, stored together at its end: none appears under its real name before the
// job has written all of them, so a job that fails or is stopped at any point leaves the folder as
// it was, older files of the same names included. Companion files are renamed first and the movie
// last, under a lock on their names, so a movie never shows up without its companion nor beside
// another job's.
class StagedOutputs {
 public:
  enum class Role { kCompanion, kMovie };

  // A new staged output, owned by the set (the pointer stays valid while the set lives).
  Result<StagedOutput*> Stage(const std::string& finalPath);
  // A staged output made elsewhere (on another thread), owned by the set from now on.
  StagedOutput* Adopt(StagedOutput output);
  // Marks a staged output complete. A complete output of the same real name staged before it is
  // dropped: the later one replaces it, as writing the file twice would.
  void Keep(const StagedOutput* output, Role role);
  // Stores every complete output under its real name, all or none (see pair_commit.h), and removes
  // the others. On failure older files of those names are as they were and the error names the
  // file that failed.
  Status CommitAll();
  // `error` with each temporary name in its message replaced by the real name it stands for.
  Error InRealNames(Error error) const;

 private:
  struct Entry {
    StagedOutput output;
    bool kept = false;
    Role role = Role::kCompanion;
  };
  std::list<Entry> entries_;
};

// Removes the temporary files of outputs named `finalPath` that a process killed outright left
// behind; for a program whose job process died without cleaning up. Only names of the form that
// StagedOutput::Create makes are touched.
void RemoveStagedLeftovers(const std::string& finalPath);

// True when the two paths name the same file: the same existing file (however it is spelled,
// hard links included) or, when one does not exist, the same normalised absolute path.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace reel
