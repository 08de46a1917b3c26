#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "submit/queue_status.h"
#include "util/job_files.h"
#include "util/outcome.h"

namespace vp {

// How an upload ended: ok when the transfer completed, whatever the server answered; else
// kUploadFailed with libcurl's words.
struct UploadResult {
  Outcome outcome;
  long httpStatus = 0;  // the answer's HTTP status, when one came
};

// Sends the job (token, job description, data file from the log folder of `files`) as one
// multipart form.
// The answer goes to the job log; the progress to the queue, when its status is on.
UploadResult uploadFileToQuoradexV2(std::ostream& log, const JobFiles& files,
                                    const std::string& serverIp, const std::string& token,
                                    const JobInfo& job, const std::string& dataFileName,
                                    const QueueStatus& status = QueueStatus{});

// The text as the inside of a JSON string: quote, backslash and control characters escaped;
// UTF-8 unchanged, and any byte that is not part of well-formed UTF-8 written as the Latin-1
// character of that number.
std::string escapeString(const std::string& text);

// The job description sent as "printProperties": a JSON object of text values.
std::string printProperties(const JobInfo& job);

// libcurl write callback of the upload: the server's answer goes into the job log as it arrives
// (target: an AnswerSink).
size_t LogUploadAnswer(void* contents, size_t size, size_t count, void* target);

// Where the upload's answer goes, and how much of it has been written there.
struct AnswerSink {
  std::ostream* log = nullptr;
  size_t written = 0;
};

}  // namespace vp
