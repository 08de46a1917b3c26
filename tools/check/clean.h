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
// leaves every file of a job whose data file a running backend holds locked.
CleanOutcome CleanJobFiles(const std::string& dir, int days, bool dryRun, time_t now);
