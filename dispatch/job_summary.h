#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "attributes/job_info.h"
#include "attributes/print_settings.h"
#include "backend/safe_file.h"

// Runs `command` through the shell and returns what it printed, every newline removed.
// Throws std::runtime_error("popen() failed!") when the command cannot be started.
std::string executeCommand(const std::string& command);

// PDF jobs: the print dialog's colour and duplex settings, last recognised value winning.
// Echoes every pair on standard output.
void ApplyPrintSettings(JobInfo& job, const std::vector<OptionPair>& settings);

// PDF jobs: `pages` from the page-count program. When the program cannot be started the job goes
// on with the count it had.
void CountPdfPages(std::ostream& log, JobInfo& job, const std::string& dataPath);

// Settles the document name, paper, orientation and driver name, and writes the nine control-file
// lines with their log lines, then closes the control file. Does nothing when it is not open.
void WriteJobSummary(std::ostream& log, SafeOutFile& control, JobInfo& job,
                     const std::string& dataFileName, const std::string& title,
                     const OptionsMap& options, const std::string& driverModel);
