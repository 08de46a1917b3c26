#include "backend/control_file.h"

#include "dispatch/job_summary.h"
#include "util/job_log.h"

namespace vp {

Outcome OpenControlFile(std::ostream& log, const JobFiles& files, SafeOutFile& control,
                        const std::string& jobUuid) {
  Log(log, "begin write ctl");
  if (!files.OpenControl(control, jobUuid))
    return {Failure::kNoControlFile, files.ControlPath(jobUuid)};
  return {};
}

void WriteControlFile(std::ostream& log, SafeOutFile& control, JobInfo& job,
                      const std::string& dataFileName, const OptionsMap& options,
                      const std::string& driverModel, const PpdFile& ppd) {
  if (!control.is_open())
    return;
  for (const std::string& line : SummariseJob(log, job, dataFileName, options, driverModel, ppd))
    control << line << '\n' << std::flush;
  control.close();
}

}  // namespace vp
