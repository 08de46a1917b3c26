#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "attributes/ppd_file.h"
#include "attributes/print_settings.h"

namespace vp {

// Any spelling of "color" in the model name, even inside a longer word, means a colour device; the
// job log says which it is.
bool DriverModelNamesColour(std::ostream& log, const std::string& driverModel);

// PDF jobs: the colour the driver model names, then the print dialog's colour and duplex settings
// in the options, read as print-settings pairs, last recognised value winning. An attribute whose
// dialog key the options lack comes from the job's standard options (sides, Duplex;
// print-color-mode, ColorModel), else from the queue's PPD defaults, else stays as it was; a plain
// log line names the source that decided.
void ApplyPdfSettings(std::ostream& log, JobInfo& job, const std::string& driverModel,
                      const JobOptions& options, const PpdFile& ppd);

}  // namespace vp
