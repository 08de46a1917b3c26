#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "submit/queue_status.h"
#include "util/job_files.h"
#include "util/outcome.h"
#include "util/safe_file.h"

namespace vp {

// What spooling hands on to the later stages.
struct SpoolResult {
  // kNoData or kJobFilesUnavailable: the run ends now; kDataIncomplete: the copy fell short.
  Outcome outcome;
  std::string jobUuid;
  std::string extension;     // ".pjl", ".ps" or ".pdf"
  std::string dataFileName;  // job UUID and extension, in the log directory
  int64_t copiedBytes = 0;   // -1 when the copy fell short
  JobLock lock;              // held until the run ends: another run of the same UUID waits for it
};

// How long a run waits for another run of the same job UUID to end. Only a client that gives two
// jobs one UUID makes a run wait; past this it fails (exit 1), and CUPS's error policy retries it
// later instead of the queue standing still.
inline constexpr int kJobLockWaitSeconds = 60;

// ".pdf" when the block holds "%PDF-", else ".ps" when it holds "%!PS", else ".pjl"; the search
// stops at the first zero byte.
std::string SniffExtension(const char* block, size_t size);

// The text after the last colon of "job-uuid", when it is made only of ASCII letters, digits and
// '-'; anything else is logged and treated as no UUID, since the UUID becomes a file name.
std::string JobUuidFromOptions(std::ostream& log, const OptionsMap& options);

// Copies the print data (standard input when print_fd is 0, else the print file) into the data
// file in the log folder of `files`, with its progress lines on standard error. A print file's
// "PAGE: 1 1" is left to the page accounting after the upload when the queue reports its status,
// so that the job is counted once.
SpoolResult SpoolPrintData(std::ostream& log, const JobFiles& files, int print_fd,
                           const OptionsMap& options, const QueueStatus& status = QueueStatus{});

}  // namespace vp
