#pragma once

#include <ostream>
#include <string>

// Logs every environment entry and returns the driver model string: the *ModelName of the PPD file
// that PPD= names, else the value of entry 28, else "unknown".
std::string ReadDriverModel(std::ostream& log, const char* const envp[]);

// The queue's PPD file, as CUPS names it in PPD=; empty when the environment names none.
std::string PpdPathFromEnvironment(const char* const envp[]);
