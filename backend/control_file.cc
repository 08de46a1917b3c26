#include "backend/control_file.h"

#include "util/job_log.h"

Outcome OpenControlFile(std::ostream& log, const JobFiles& files, SafeOutFile& control,
                        const std::string& jobUuid) {
  Log(log, "begin write ctl");
  if (!files.OpenControl(control, jobUuid))
    return {Failure::kNoControlFile, files.ControlPath(jobUuid)};
  return {};
}
