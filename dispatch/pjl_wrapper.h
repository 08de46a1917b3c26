#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "util/outcome.h"

namespace vp {

// Puts `content` before the existing bytes of the file at `path`. The file is rewritten through
// its temporary name (JobFiles::TemporaryPath) and replaced in one rename, so its data is never
// only under the temporary name; on any failure the file stays as it was. Reports on standard
// output; on failure, kEnvelopeIncomplete with that report.
Outcome AddContentToBeginning(const std::string& path, const std::string& content);

// Appends `content` to the file at `path`, creating it when missing. A failed write is taken back.
// Reports on standard output; on failure, kEnvelopeIncomplete with that report.
Outcome AddContentToEnd(const std::string& path, const std::string& content);

// Wraps a PDF data file in place in the PJL envelope that carries the job name (the document name),
// copies, binding and duplex. Only for PDF data; PostScript and PJL data are sent as they are.
// kEnvelopeIncomplete, with a job-log line, when the envelope is not whole: the job must then not
// be sent.
Outcome WrapPdfInPjl(std::ostream& log, const std::string& dataPath, const JobInfo& job);

}  // namespace vp
