#include "backend/run_end.h"

#include <cups/backend.h>
#include <gtest/gtest.h>

namespace vp {

namespace {

using Line = RunEnd::Line;
constexpr int kOk = CUPS_BACKEND_OK, kFailed = CUPS_BACKEND_FAILED, kStop = CUPS_BACKEND_STOP;

// The roads the end-to-end suites cannot reach through a real run (a failed copy or envelope, a
// control file that does not open), and the submission's, whose lines they check there too.
TEST(RunEndFor, EveryOutcomeEndsWithItsStatusAndLine) {
  struct Case {
    Failure failure;
    std::string detail;
    int exitStatus;
    Line line;
    std::string message;  // its start
  };
  const Case cases[] = {
      {Failure::kNone, "", kOk, Line::kPages, ""},
      {Failure::kNoData, "", kOk, Line::kNone, ""},
      {Failure::kJobFilesUnavailable, "Can't write print data file:/x", kFailed, Line::kNone, ""},
      {Failure::kDataIncomplete, "", kFailed, Line::kFailure, "The print data could not be copied"},
      {Failure::kEnvelopeIncomplete, "Failed", kFailed, Line::kFailure, "The PDF data could not"},
      {Failure::kNoControlFile, "/x.ctl", kOk, Line::kNone, ""},
      {Failure::kSettingsUnreadable, "Could not", kStop, Line::kFailure, "The client application"},
      {Failure::kNoSettings, "", kStop, Line::kFailure, "The client application's settings hold"},
      {Failure::kUnreachable, "h:1 cannot be reached: Timeout", kStop, Line::kFailure,
       "The print server at h:1 cannot be reached: Timeout. Check the server address"},
      {Failure::kUnreadableAnswer, "", kStop, Line::kFailure, "The print server's answer to the"},
      {Failure::kMalformedAnswer, "[json.exception", kStop, Line::kFailure, "The print server's"},
      {Failure::kRefused, "02", CUPS_BACKEND_AUTH_REQUIRED, Line::kFailure, "The print server ref"},
      {Failure::kUploadFailed, "Timeout", kStop, Line::kFailure,
       "The upload to the print server failed: Timeout. The job is kept"},
      {Failure::kUploadNotStored, "500", kOk, Line::kWarning,
       "The print server answered the upload with HTTP status 500: it may not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.failure));
    RunEnd end = RunEndFor({c.failure, c.detail});
    EXPECT_EQ(end.exitStatus, c.exitStatus);
    EXPECT_EQ(end.line, c.line);
    EXPECT_TRUE(end.message.starts_with(c.message)) << end.message;
    EXPECT_EQ(end.message.empty(), c.message.empty()) << end.message;
  }
}

}  // namespace

}  // namespace vp
