#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "attributes/ppd_file.h"

namespace vp {

// Defaults, the choice of parser and its log lines; the title becomes the record's document name.
// PostScript and PJL data are read by the parser of the driver family, then through the queue's
// PPD (not readable when there is none) for what the driver's features make the device do; on the
// PDF path the record keeps the defaults (ApplyPdfSettings decides the rest).
JobInfo SelectParser(std::ostream& log, const std::string& extension, const std::string& dataPath,
                     const std::string& driverModel, const std::string& title, int copies,
                     const PpdFile& ppd);

}  // namespace vp
