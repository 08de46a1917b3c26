#include "submit/queue_status.h"

#include <cstdio>
#include <cstdlib>

#include "util/cups_private.h"
#include "util/safe_text.h"

namespace vp {

namespace {

constexpr auto kProgressInterval = std::chrono::seconds(2);
constexpr int kProgressStep = 10;

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A count as the parsers give it: decimal digits only, from 1 to `most`.
bool ReadCount(const std::string& text, long long most, long long& count) {
  if (!IsNumber(text) || text.size() > 10)
    return false;
  count = std::atoll(text.c_str());
  return count >= 1 && count <= most;
}

bool CopiesOf(const QueueStatus& status, const JobInfo& job, long long& copies) {
  if (!job.copies.empty())
    return ReadCount(job.copies, kMostCopies, copies);
  if (IsNumber(status.commandLineCopies))
    return ReadCount(status.commandLineCopies, kMostCopies, copies);
  copies = 1;
  return true;
}

}  // namespace

void ReportConnecting(const QueueStatus& status) {
  if (!status.on)
    return;
  fputs("STATE: +connecting-to-device\n", stderr);
  _cupsLangPrintFilter(stderr, "INFO", "Connecting to the print server");
}

void ReportConnected(const QueueStatus& status) {
  if (status.on)
    fputs("STATE: -connecting-to-device\n", stderr);
}

namespace {

// Messages carry outside text (the server address, libcurl's words): on one line, they cannot give
// the scheduler commands of their own.
void PrintStatusLine(const QueueStatus& status, const char* prefix, const std::string& message) {
  if (status.on)
    _cupsLangPrintFilter(stderr, prefix, "%s", OnOneLine(message).c_str());
}

}  // namespace

void ReportFailure(const QueueStatus& status, const std::string& message) {
  PrintStatusLine(status, "ERROR", message);
}

void ReportWarning(const QueueStatus& status, const std::string& message) {
  PrintStatusLine(status, "WARNING", message);
}

void ReportPages(const QueueStatus& status, const JobInfo& job) {
  long long pages = 0;
  long long copies = 0;
  if (!status.on)
    return;
  if (ReadCount(job.pages, kMostPages, pages) && CopiesOf(status, job, copies))
    fprintf(stderr, "PAGE: total %lld\n", pages * copies);
  else if (status.printFile)
    fputs("PAGE: 1 1\n", stderr);
}

int ReportUploadProgress(void* target, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                         curl_off_t uploaded) {
  auto* progress = static_cast<UploadProgress*>(target);
  if (!progress->status->on || uploadTotal <= 0)
    return 0;
  int percent = static_cast<int>(uploaded * 100 / uploadTotal);
  auto now = std::chrono::steady_clock::now();
  bool due = percent >= progress->lastPercent + kProgressStep ||
             (percent > progress->lastPercent && now - progress->lastReport >= kProgressInterval);
  if (!due)
    return 0;
  progress->lastPercent = percent;
  progress->lastReport = now;
  _cupsLangPrintFilter(stderr, "INFO", "Sending the job to the print server: %d%%", percent);
  fprintf(stderr, "ATTR: job-media-progress=%d\n", percent);
  return 0;
}

void ReportWaiting(const QueueStatus& status, const std::string& message) {
  if (!status.on)
    return;
  fputs("STATE: +connecting-to-device\n", stderr);
  PrintStatusLine(status, "INFO", message);
}

}  // namespace vp
