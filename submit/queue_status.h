#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>

#include "attributes/job_info.h"

// What the queue shows of a job's way to the server, for queues whose administrator asked for it
// (status=on in the device URI). Off, the backend writes nothing more on standard error once the
// data is spooled, as the scheduler has always seen it.
struct QueueStatus {
  bool on = false;
};

// Before the login: "STATE: +connecting-to-device" and an INFO line; and once it has an answer.
void ReportConnecting(const QueueStatus& status);
void ReportConnected(const QueueStatus& status);

// One line saying what went wrong and what to do; never a password or a token.
void ReportFailure(const QueueStatus& status, const std::string& message);
void ReportWarning(const QueueStatus& status, const std::string& message);

// After a successful upload: "PAGE: total N", N the page count times the copy count when both are
// numbers, so the scheduler accounts the job's impressions.
void ReportPages(const QueueStatus& status, const JobInfo& job);

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

// The server address as the queue may show it: without user name or password.
std::string AddressWithoutCredentials(const std::string& serverIp);

// While the job waits for a server that cannot be reached: "STATE: +connecting-to-device" and an
// INFO line saying so and when the next try comes.
void ReportWaiting(const QueueStatus& status, const std::string& message);
