#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"

// Defaults, the choice of parser and its log lines. PostScript and PJL data are read by the
// parser of the driver family; on the PDF path the record keeps the defaults and the colour
// follows the driver model string.
JobInfo SelectParser(std::ostream& log, const std::string& extension, const std::string& dataPath,
                     const std::string& driverModel, const std::string& title, int copies);
