#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "attributes/job_info.h"
#include "attributes/ppd_file.h"
#include "util/job_files.h"
#include "util/outcome.h"
#include "util/safe_file.h"

namespace vp {

// Opens the control file beside the data file; its lines are written once the job's attributes are
// settled. A control file that does not open (kNoControlFile) only means no summary.
Outcome OpenControlFile(std::ostream& log, const JobFiles& files, SafeOutFile& control,
                        const std::string& jobUuid);

// Settles the job's summary (SummariseJob) and writes its lines, each ended by a line end, then
// closes the control file. Does nothing when it is not open: the job then keeps its fields as they
// were.
void WriteControlFile(std::ostream& log, SafeOutFile& control, JobInfo& job,
                      const std::string& dataFileName, const OptionsMap& options,
                      const std::string& driverModel, const PpdFile& ppd);

}  // namespace vp
