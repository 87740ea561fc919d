// Storing a job's finished files together, durably.
//
// Each file is flushed to the disk under its temporary name, then all are renamed to their real
// names while a lock on those names is held, and the folder is flushed after the renames. An older
// file of a real name is kept under a hidden name until every new file is in place: whatever fails
// on the way (a flush, a rename, the folder's flush), the older files are put back, so the folder
// holds either all the older files or all the new ones, never some of each.
#pragma once

#include <string>
#include <vector>

#include "common/result.h"

namespace reel {

struct FinishedFile {
  std::string temporaryPath;
  std::string finalPath;
};

// Renames every file to its real name, in the given order, all or nothing. The files are in one
// folder. On failure a kCannotWrite error names the file and the cause; the temporary files that
// were not renamed are left to their owner.
Status StoreTogether(const std::vector<FinishedFile>& files);

// Flushes a finished file to the disk now, on the caller's thread, so that the flush overlaps the
// rest of the job (the companion is done before the movie). StoreTogether still flushes every file
// it stores, then with little left to write. A failure is the caller's to report, as StoreTogether
// would: after a failed flush the system may count the lost data as written, so a later flush
// that succeeds proves nothing. The kCannotWrite error names `finalPath`.
Status FlushAhead(const std::string& temporaryPath, const std::string& finalPath);

}  // namespace reel
