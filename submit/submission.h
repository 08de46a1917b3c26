#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "submit/queue_status.h"

// Hands the spooled job to the print-management server: reads the settings, logs in, uploads the
// data file from the log directory. When the server cannot take the job the local notifier is
// told (content: the job UUID). Returns the backend exit status: 0 uploaded, 2 login refused,
// 4 anything else. With the queue's status on, each step and failure is also told to the queue.
int SubmitJob(std::ostream& log, const JobInfo& job, const std::string& jobUuid,
              const std::string& dataFileName, const QueueStatus& status = QueueStatus{});
