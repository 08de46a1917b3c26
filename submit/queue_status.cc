#include "submit/queue_status.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "util/cups_private.h"

namespace {

constexpr auto kProgressInterval = std::chrono::seconds(2);
constexpr int kProgressStep = 10;

// A count as the parsers give it: decimal digits only, within what a page count may be.
bool ReadCount(const std::string& text, long long& count) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  count = std::atoll(text.c_str());
  return count <= std::numeric_limits<int>::max();
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

void ReportFailure(const QueueStatus& status, const std::string& message) {
  if (status.on)
    _cupsLangPrintFilter(stderr, "ERROR", "%s", message.c_str());
}

void ReportWarning(const QueueStatus& status, const std::string& message) {
  if (status.on)
    _cupsLangPrintFilter(stderr, "WARNING", "%s", message.c_str());
}

void ReportPages(const QueueStatus& status, const JobInfo& job) {
  long long pages = 0;
  long long copies = 0;
  if (status.on && ReadCount(job.pages, pages) && ReadCount(job.copies, copies))
    fprintf(stderr, "PAGE: total %lld\n", pages * copies);
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

std::string AddressWithoutCredentials(const std::string& serverIp) {
  size_t hostStart = serverIp.find("://");
  hostStart = hostStart == std::string::npos ? 0 : hostStart + 3;
  size_t at = serverIp.find('@', hostStart);
  size_t slash = serverIp.find('/', hostStart);
  if (at == std::string::npos || (slash != std::string::npos && slash < at))
    return serverIp;
  return serverIp.substr(0, hostStart) + serverIp.substr(at + 1);
}

void ReportWaiting(const QueueStatus& status, const std::string& message) {
  if (!status.on)
    return;
  fputs("STATE: +connecting-to-device\n", stderr);
  _cupsLangPrintFilter(stderr, "INFO", "%s", message.c_str());
}
