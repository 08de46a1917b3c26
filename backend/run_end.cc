#include "backend/run_end.h"

#include <cups/backend.h>

namespace vp {

namespace {

// What the queue shows on each road where the server cannot take the job.
constexpr char kNoSettings[] =
    "The client application's settings hold no print server address, user name or password: "
    "sign in with the client application, then resume the printer";
constexpr char kRefused[] =
    "The print server refused the login: log in with the client application, then release the "
    "held job";
constexpr char kUnreadableAnswer[] =
    "The print server's answer to the login could not be read: check the server address in the "
    "client application, then resume the printer";

RunEnd Failed(int exitStatus, const std::string& message) {
  return {exitStatus, RunEnd::Line::kFailure, message};
}

}  // namespace

RunEnd RunEndFor(const Outcome& outcome) {
  const std::string& detail = outcome.detail;
  switch (outcome.failure) {
    case Failure::kNone:
      return {CUPS_BACKEND_OK, RunEnd::Line::kPages, ""};
    // Spooling's own lines are out: a job without data is done, one whose files are taken fails.
    case Failure::kNoData:
      return {CUPS_BACKEND_OK, RunEnd::Line::kNone, ""};
    case Failure::kJobFilesUnavailable:
      return {CUPS_BACKEND_FAILED, RunEnd::Line::kNone, ""};
    // A truncated job must not reach the server as if it were whole.
    case Failure::kDataIncomplete:
      return Failed(CUPS_BACKEND_FAILED,
                    "The print data could not be copied in full, so the job was not sent; the "
                    "scheduler retries it as its error policy says");
    case Failure::kEnvelopeIncomplete:
      return Failed(CUPS_BACKEND_FAILED,
                    "The PDF data could not be wrapped for the print server, so the job was not "
                    "sent; the scheduler retries it as its error policy says");
    // Neither ends a run by itself: the job goes on without a summary, or with the settings read.
    case Failure::kNoControlFile:
      return {CUPS_BACKEND_OK, RunEnd::Line::kNone, ""};
    case Failure::kSettingsUnreadable:
    case Failure::kNoSettings:
      return Failed(CUPS_BACKEND_STOP, kNoSettings);
    case Failure::kUnreachable:
      return Failed(CUPS_BACKEND_STOP,
                    "The print server at " + detail +
                        ". Check the server address and the network, then resume the printer");
    case Failure::kUnreadableAnswer:
    case Failure::kMalformedAnswer:
      return Failed(CUPS_BACKEND_STOP, kUnreadableAnswer);
    case Failure::kRefused:
      return Failed(CUPS_BACKEND_AUTH_REQUIRED, kRefused);
    case Failure::kUploadFailed:
      return Failed(CUPS_BACKEND_STOP,
                    "The upload to the print server failed: " + detail +
                        ". The job is kept: resume the printer to send it again");
    // Such an answer still ends the job as sent; only the queue hears of it, and no pages are
    // billed.
    case Failure::kUploadNotStored:
      return {CUPS_BACKEND_OK, RunEnd::Line::kWarning,
              "The print server answered the upload with HTTP status " + detail +
                  ": it may not have stored the job"};
  }
  return Failed(CUPS_BACKEND_FAILED, "");
}

int EndRun(const QueueStatus& status, const Outcome& outcome, const JobInfo& job) {
  const RunEnd end = RunEndFor(outcome);
  switch (end.line) {
    case RunEnd::Line::kNone:
      break;
    case RunEnd::Line::kFailure:
      ReportFailure(status, end.message);
      break;
    case RunEnd::Line::kWarning:
      ReportWarning(status, end.message);
      break;
    case RunEnd::Line::kPages:
      ReportPages(status, job);
      break;
  }
  return end.exitStatus;
}

}  // namespace vp
