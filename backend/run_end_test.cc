#include "backend/run_end.h"

#include <cups/backend.h>
#include <gtest/gtest.h>

namespace {

using Line = RunEnd::Line;

// The roads the end-to-end suites cannot reach through a real run (a failed copy or envelope, a
// control file that does not open), and the submission's, whose lines they check there too.
TEST(RunEndFor, EveryOutcomeEndsWithItsStatusAndLine) {
  struct Case {
    Outcome outcome;
    int exitStatus;
    Line line;
    std::string messageStart;
  };
  const Case cases[] = {
      {{Failure::kNone, ""}, CUPS_BACKEND_OK, Line::kPages, ""},
      {{Failure::kNoData, ""}, CUPS_BACKEND_OK, Line::kNone, ""},
      {{Failure::kJobFilesUnavailable, "Can't write print data file:/x"},
       CUPS_BACKEND_FAILED,
       Line::kNone,
       ""},
      {{Failure::kDataIncomplete, ""},
       CUPS_BACKEND_FAILED,
       Line::kFailure,
       "The print data could not be copied in full"},
      {{Failure::kEnvelopeIncomplete, "Failed to create temporary file."},
       CUPS_BACKEND_FAILED,
       Line::kFailure,
       "The PDF data could not be wrapped for the print server"},
      {{Failure::kNoControlFile, "/x.ctl"}, CUPS_BACKEND_OK, Line::kNone, ""},
      {{Failure::kSettingsUnreadable, "Could not open the file!"},
       CUPS_BACKEND_STOP,
       Line::kFailure,
       "The client application's settings hold no print server address"},
      {{Failure::kNoSettings, ""},
       CUPS_BACKEND_STOP,
       Line::kFailure,
       "The client application's settings hold no print server address"},
      {{Failure::kUnreachable, "***@h:1 cannot be reached: Couldn't connect to server"},
       CUPS_BACKEND_STOP,
       Line::kFailure,
       "The print server at ***@h:1 cannot be reached: Couldn't connect to server. Check the "
       "server address and the network, then resume the printer"},
      {{Failure::kUnreadableAnswer, ""},
       CUPS_BACKEND_STOP,
       Line::kFailure,
       "The print server's answer to the login could not be read"},
      {{Failure::kMalformedAnswer, "[json.exception.parse_error.101] x"},
       CUPS_BACKEND_STOP,
       Line::kFailure,
       "The print server's answer to the login could not be read"},
      {{Failure::kRefused, "02"},
       CUPS_BACKEND_AUTH_REQUIRED,
       Line::kFailure,
       "The print server refused the login"},
      {{Failure::kUploadFailed, "Timeout was reached"},
       CUPS_BACKEND_STOP,
       Line::kFailure,
       "The upload to the print server failed: Timeout was reached. The job is kept"},
      {{Failure::kUploadNotStored, "500"},
       CUPS_BACKEND_OK,
       Line::kWarning,
       "The print server answered the upload with HTTP status 500: it may not have stored"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.outcome.failure));
    RunEnd end = RunEndFor(c.outcome);
    EXPECT_EQ(end.exitStatus, c.exitStatus);
    EXPECT_EQ(end.line, c.line);
    EXPECT_TRUE(end.message.starts_with(c.messageStart)) << end.message;
    EXPECT_EQ(end.message.empty(), c.messageStart.empty()) << end.message;
  }
}

}  // namespace
