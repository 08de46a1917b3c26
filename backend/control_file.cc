#include "backend/control_file.h"

#include "util/job_log.h"

void OpenControlFile(std::ostream& log, const JobFiles& files, SafeOutFile& control,
                     const std::string& jobUuid) {
  Log(log, "begin write ctl");
  files.OpenControl(control, jobUuid);
}
