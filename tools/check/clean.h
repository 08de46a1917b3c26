#pragma once

#include <ctime>
#include <string>
#include <vector>

struct CleanOutcome {
  std::vector<std::string> lines;  // each file removed (or that would be), kept or skipped; a total
  bool ok = true;  // false when the folder could not be read or a file could not be removed
};

// Removes the job files (see job_files.h) in `dir` (ending in '/') last changed more than `days`
// days before `now`; with `dryRun` only says what it would remove. Never follows a link, and
// leaves every file of a job whose lock in `lockDir` a running backend holds (locks on the files
// themselves, which any local user can take, count for nothing). Removes the lock files no run
// holds.
CleanOutcome CleanJobFiles(const std::string& dir, const std::string& lockDir, int days,
                           bool dryRun, time_t now);
