#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "util/safe_file.h"

// Runs `command` through the shell and returns what it printed, every newline removed.
// Throws std::runtime_error("popen() failed!") when the command cannot be started.
std::string executeCommand(const std::string& command);

// PDF jobs: the print dialog's colour and duplex settings in the options text, read as
// print-settings pairs, last recognised value winning. Echoes every pair on standard output.
// An attribute whose dialog key the options lack comes from the job's standard options (sides,
// Duplex; print-color-mode, ColorModel), else from the queue's PPD defaults (`ppdPath`, empty when
// there is none), else stays as it was; a plain log line names the source that decided.
void ApplyPrintSettings(std::ostream& log, JobInfo& job, const std::string& optionsText,
                        const std::string& ppdPath);

// PDF jobs: `pages` from the page-count program. When the program cannot be started the job goes
// on with the count it had.
void CountPdfPages(std::ostream& log, JobInfo& job, const std::string& dataPath);

// Settles the document name, paper, orientation and driver name, and writes the nine control-file
// lines with their log lines, then closes the control file. Does nothing when it is not open.
// Without a PageSize option the paper is the PPD's *DefaultPageSize, else A4.
void WriteJobSummary(std::ostream& log, SafeOutFile& control, JobInfo& job,
                     const std::string& dataFileName, const std::string& title,
                     const OptionsMap& options, const std::string& driverModel,
                     const std::string& ppdPath);
