#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>

#include "attributes/job_info.h"

namespace vp {

// What the queue shows of a job's way to the server, for queues whose administrator asked for it
// (status=on in the device URI). Off, the backend writes nothing more on standard error once the
// data is spooled, as the scheduler has always seen it.
struct QueueStatus {
  bool on = false;
  // For the page accounting: the copies CUPS asked for (argument 4), and whether the job came as a
  // print file, whose spooling has said nothing of its pages yet when the queue reports its status.
  std::string commandLineCopies;
  bool printFile = false;
};

// Before the login: "STATE: +connecting-to-device" and an INFO line; and once it has an answer.
void ReportConnecting(const QueueStatus& status);
void ReportConnected(const QueueStatus& status);

// One line saying what went wrong and what to do; never a password or a token. Control
// characters in the message become blanks.
void ReportFailure(const QueueStatus& status, const std::string& message);
void ReportWarning(const QueueStatus& status, const std::string& message);

// After a successful upload: "PAGE: total N", N the page count times the copy count, so the
// scheduler accounts the job's impressions. Copies the job does not state are the command line's,
// or 1 when that is no number. Only a plausible N is reported: pages from 1 to kMostPages and
// copies from 1 to kMostCopies. A print file's job without one says "PAGE: 1 1", as spooling does
// on queues without status.
void ReportPages(const QueueStatus& status, const JobInfo& job);

// CUPS's own limit of copies per job (MaxCopies); no real job has more pages than kMostPages.
inline constexpr long long kMostCopies = 9999;
inline constexpr long long kMostPages = 1000000;

// The upload's progress as an INFO line with the percentage sent and the job's
// job-media-progress attribute, at most every 2 s or every 10 %.
struct UploadProgress {
  const QueueStatus* status = nullptr;
  int lastPercent = -1;
  std::chrono::steady_clock::time_point lastReport;
};

// libcurl transfer-information callback (target: an UploadProgress); never stops the transfer.
int ReportUploadProgress(void* target, curl_off_t downloadTotal, curl_off_t downloaded,
                         curl_off_t uploadTotal, curl_off_t uploaded);

// While the job waits for a server that cannot be reached: "STATE: +connecting-to-device" and an
// INFO line saying so and when the next try comes.
void ReportWaiting(const QueueStatus& status, const std::string& message);

}  // namespace vp
