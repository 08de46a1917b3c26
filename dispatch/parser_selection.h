#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "attributes/job_info.h"
#include "attributes/print_settings.h"

// Defaults, the choice of parser and its log lines. PostScript and PJL data are read by the
// parser of the driver family; on the PDF path the record keeps the defaults, `settings` receives
// the job options as print-dialog pairs and the colour follows the driver model string.
JobInfo SelectParser(std::ostream& log, const std::string& extension, const std::string& dataPath,
                     const std::string& driverModel, const std::string& title, int copies,
                     const std::string& options, std::vector<OptionPair>& settings);
