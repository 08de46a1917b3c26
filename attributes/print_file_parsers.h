#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"

// Page count, copy count, colour and duplex from a driver's output in the spool data file. Each
// family reads its own driver's markers; a file that cannot be read gives an empty record.

// Any other driver: looks for every family's markers; colour and duplex hits go to the job log.
JobInfo GetPrintFile_Other(std::ostream& log, const std::string& path);

// The system's own virtual-printer driver.
JobInfo GetPrintFile_Quoradex(const std::string& path);

// HP drivers, which state colour in a PJL command.
JobInfo GetPrintFile_HP(const std::string& path);

// KONICA MINOLTA drivers, with their own colour and duplex features.
JobInfo GetPrintFile_KM(const std::string& path);
