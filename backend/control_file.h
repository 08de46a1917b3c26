#pragma once

#include <ostream>
#include <string>

#include "util/job_files.h"
#include "util/outcome.h"
#include "util/safe_file.h"

// Opens the control file beside the data file; the job summary writes it later. A control file
// that does not open (kNoControlFile) only means no summary.
Outcome OpenControlFile(std::ostream& log, const JobFiles& files, SafeOutFile& control,
                        const std::string& jobUuid);
