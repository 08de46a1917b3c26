#include "backend/control_file.h"

#include "dispatch/job_summary.h"
#include "util/job_log.h"
#include "util/paths.h"

void OpenControlFile(std::ostream& log, SafeOutFile& control, const std::string& jobUuid) {
  Log(log, "begin write ctl");
  control.open(JobFilePath(jobUuid + ".ctl"), 0666);
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
