#pragma once

#include <ostream>
#include <string>

#include "backend/safe_file.h"

// Logs every environment entry and returns the driver model string: the *ModelName of the PPD file
// that PPD= names, else the value of entry 28, else "unknown".
std::string ReadDriverModel(std::ostream& log, const char* const envp[]);

// Opens the control file beside the data file; the job summary writes it later. A control file
// that does not open only means no summary.
void OpenControlFile(std::ostream& log, SafeOutFile& control, const std::string& jobUuid);
