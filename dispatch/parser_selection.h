#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"

// Defaults, the choice of parser and its log lines. PostScript and PJL data are read by the
// parser of the driver family, then through the queue's PPD (`ppdPath`, empty when there is none)
// for what the driver's features make the device do; on the PDF path the record keeps the
// defaults and the colour follows the driver model string.
JobInfo SelectParser(std::ostream& log, const std::string& extension, const std::string& dataPath,
                     const std::string& driverModel, const std::string& title, int copies,
                     const std::string& ppdPath);
