#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "attributes/ppd_file.h"

namespace vp {

// The job's paper: its PageSize option, else the PPD's *DefaultPageSize, else A4. Names other than
// Letter are cut to their first two characters (A4, A3, B5...), the uncut name logged.
std::string DecidePaper(std::ostream& log, const OptionsMap& options, const PpdFile& ppd);

}  // namespace vp
