#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "config/server_settings.h"
#include "submit/queue_status.h"
#include "util/job_files.h"
#include "util/outcome.h"

namespace vp {

// Hands the spooled job to the print-management server: reads the settings, logs in, uploads the
// data file from the log folder of `files`. Returns how it ended (kNoSettings, kUnreachable,
// kUnreadableAnswer, kMalformedAnswer, kRefused, kUploadFailed, kUploadNotStored, or ok); with
// the queue's status on, the steps (connecting, the upload's progress, the waits) go to the queue.
//
// With a wait (the device URI's wait=SECONDS), a server that cannot be reached (ServerUnreachable)
// is tried again, after pauses that grow to kMaxWaitPause, each try reading the settings afresh,
// until the wait has passed since the first try; the last try then ends as without a wait. A wait
// of 0 is none.
Outcome SubmitJob(std::ostream& log, const JobFiles& files, const SettingsFiles& settings,
                  const JobInfo& job, const std::string& dataFileName,
                  const QueueStatus& status = QueueStatus{},
                  std::chrono::seconds wait = std::chrono::seconds(0));

// When the server cannot take the job (no settings, no server, an answer that cannot be read, a
// refused login), tells the local notifier, content the job UUID; called once the queue has the
// submission's last line, as the notifier then asks the user to act on it.
void TellNotifier(std::ostream& log, const Outcome& submission, const std::string& jobUuid);

// The longest pause between two tries while the server cannot be reached.
constexpr std::chrono::seconds kMaxWaitPause(30);

// The pause after that many failed tries (1, 2, ...): 1, 2, 3, 5, 8, 13, 21 s, then kMaxWaitPause.
std::chrono::seconds WaitPause(int failedTries);

// What the queue shows while the job waits: the server (without credentials) and libcurl's words,
// when the next try comes and until when the job waits.
std::string WaitingMessage(const std::string& serverIp, const std::string& reason,
                           std::chrono::seconds pause,
                           std::chrono::system_clock::time_point nextTry,
                           std::chrono::system_clock::time_point waitUntil);

}  // namespace vp
