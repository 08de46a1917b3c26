#include "backend/control_file.h"

#include "backend/job_log.h"
#include "backend/paths.h"

namespace {
constexpr int kDriverModelEntry = 28;
}

std::string ReadDriverModel(std::ostream& log, const char* const envp[]) {
  Log(log, "start write ctrl file");
  std::string model = "unknown";
  Log(log, "parser ppd");

  int count = 0;
  for (; envp && envp[count]; ++count) {
    LogPlain(log, "envp[" + std::to_string(count) + "]:" + envp[count]);
  }
  if (count > kDriverModelEntry) {
    std::string entry = envp[kDriverModelEntry];
    size_t equals = entry.find('=');
    if (equals != std::string::npos) {
      model = entry.substr(equals + 1);
      LogPlain(log, "model:" + model);
    }
  }
  return model;
}

void OpenControlFile(std::ostream& log, SafeOutFile& control, const std::string& jobUuid) {
  Log(log, "begin write ctl");
  control.open(paths::kLogDir + jobUuid + ".ctl", 0666);
}
