#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "attributes/job_info.h"
#include "attributes/ppd_file.h"

namespace vp {

// Settles the paper, orientation and driver name and returns the nine control-file lines, without
// line ends, each but the first also logged. A title or option value holding a line end is put on
// one line in the control file, which is read line by line; the job log gets it as it came.
// Without a PageSize option the paper is the PPD's *DefaultPageSize, else A4.
std::vector<std::string> SummariseJob(std::ostream& log, JobInfo& job,
                                      const std::string& dataFileName, const OptionsMap& options,
                                      const std::string& driverModel, const PpdFile& ppd);

}  // namespace vp
