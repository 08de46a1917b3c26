#pragma once

#include <ostream>
#include <string>

#include "attributes/ppd_file.h"

namespace vp {

// The queue's driver as the environment names it, read once per job.
struct DriverInput {
  std::string model;    // the PPD's *ModelName, else the value of entry 28, else "unknown"
  std::string ppdPath;  // PPD=, empty when the environment names none
  PpdFile ppd;          // the file PPD= names, read once; not readable when there is none
};

// Logs every environment entry, and the PPD's bounds where it went beyond them, and returns the
// driver.
DriverInput ReadDriver(std::ostream& log, const char* const envp[]);

}  // namespace vp
