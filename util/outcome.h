#pragma once

#include <string>

namespace vp {

// How a stage that does I/O ended, for `main` to turn into the exit status and the queue's last
// line. A stage returns it inside its own record, beside what it made.
enum class Failure {
  kNone,
  // Spooling: no data came (exit 0); the job's files could not be locked or opened (exit 1); the
  // data could not be copied in full (the summary is still written, the job is not sent).
  kNoData,
  kJobFilesUnavailable,
  kDataIncomplete,
  // The control file did not open: the job goes on without a summary.
  kNoControlFile,
  // The settings could not be read in full; the record holds what was read.
  kSettingsUnreadable,
  // The PJL envelope could not be written whole: the job must not be sent.
  kEnvelopeIncomplete,
  // The submission: settings without an address, user or password; no server reached; a login
  // answer without "code", or one the JSON reader rejects; a refused login; an upload that did
  // not complete; one the server answered with an HTTP error status.
  kNoSettings,
  kUnreachable,
  kUnreadableAnswer,
  kMalformedAnswer,
  kRefused,
  kUploadFailed,
  kUploadNotStored,
};

struct Outcome {
  Failure failure = Failure::kNone;
  // What the queue's line quotes (libcurl's words, an HTTP status, the server's address), or the
  // job log's word on it; never a password or a token.
  std::string detail;

  bool ok() const { return failure == Failure::kNone; }
};

}  // namespace vp
