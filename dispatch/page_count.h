#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"

namespace vp {

// What a command printed, every newline removed; `started` false when it could not be started.
struct CommandOutput {
  bool started = false;
  std::string text;
};

// Runs `command` through the shell.
CommandOutput executeCommand(const std::string& command);

// PDF jobs: `pages` from the page-count program. When the program cannot be started the job goes
// on with the count it had.
void CountPdfPages(std::ostream& log, JobInfo& job, const std::string& dataPath);

}  // namespace vp
