#pragma once

#include <string>

#include "attributes/job_info.h"
#include "submit/queue_status.h"
#include "util/outcome.h"

namespace vp {

// How a run ends for a stage's outcome: the backend's exit status and the queue's last line.
struct RunEnd {
  enum class Line { kNone, kFailure, kWarning, kPages };
  int exitStatus = 0;
  Line line = Line::kNone;
  std::string message;  // the ERROR or WARNING line's text
};

// The one table of how each outcome ends a run.
RunEnd RunEndFor(const Outcome& outcome);

// Writes the outcome's last line for the queue (with the queue's status on) and returns the exit
// status; a job sent whole gets its page accounting.
int EndRun(const QueueStatus& status, const Outcome& outcome, const JobInfo& job = JobInfo{});

}  // namespace vp
