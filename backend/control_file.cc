#include "backend/control_file.h"

#include "util/job_log.h"
#include "util/paths.h"

Outcome OpenControlFile(std::ostream& log, SafeOutFile& control, const std::string& jobUuid) {
  Log(log, "begin write ctl");
  const std::string path = JobFilePath(jobUuid + ".ctl");
  if (!control.open(path, 0666))
    return {Failure::kNoControlFile, path};
  return {};
}
