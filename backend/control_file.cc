#include "backend/control_file.h"

#include "util/job_log.h"
#include "util/paths.h"

void OpenControlFile(std::ostream& log, SafeOutFile& control, const std::string& jobUuid) {
  Log(log, "begin write ctl");
  control.open(JobFilePath(jobUuid + ".ctl"), 0666);
}
