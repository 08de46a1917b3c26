#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "util/job_files.h"

namespace vp {

struct CleanOutcome {
  std::vector<std::string> lines;  // each file removed (or that would be), kept or skipped; a total
  bool ok = true;  // false when the folder could not be read or a file could not be removed
};

// Removes the job files (JobUuidOf names them) in the log folder of `files` last changed more than
// `days` days before `now`; with `dryRun` only says what it would remove. Never follows a link,
// and leaves every file of a job whose lock a running backend holds (locks on the files
// themselves, which any local user can take, count for nothing). Removes the lock files no run
// holds.
CleanOutcome CleanJobFiles(const JobFiles& files, int days, bool dryRun, time_t now);

// DAYS as the command line or a preferences file gives it: 0 to 36500 in decimal digits.
bool ParseCleanDays(const std::string& text, int& days);

// The clean's days where Mac administrators set them: the key CleanDays of the preferences
// `files` (the managed one first). Not `ok` (with the line to print) when a file cannot be read
// or holds no number of days; `days` stays -1 when no file sets the key.
struct ConfiguredDays {
  int days = -1;
  bool ok = true;
  std::string line;  // where the days come from, or why there are none
};
ConfiguredDays CleanDaysFromPreferences(const std::vector<std::string>& files);

}  // namespace vp
