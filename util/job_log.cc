#include "util/job_log.h"

#include <cerrno>
#include <ctime>

#include "util/cups_private.h"
#include "util/job_files.h"
#include "util/safe_file.h"

namespace vp {

std::string getCurrentTimeStr() {
  char buffer[64] = {};
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  strftime(buffer, sizeof buffer - 1, "%Y-%m-%d %H:%M:%S", &local);
  return buffer;
}

void Log(std::ostream& log, const std::string& message) {
  log << getCurrentTimeStr() << ' ' << message << '\n' << std::flush;
}

void Log(std::ostream& log, const std::string& key, const std::string& value) {
  log << getCurrentTimeStr() << ' ' << key << ':' << value << '\n' << std::flush;
}

void LogPlain(std::ostream& log, const std::string& line) {
  log << line << '\n' << std::flush;
}

bool OpenJobLog(const JobFiles& files, SafeOutFile& log) {
  bool opened = files.OpenJobLog(log);
  int open_error = errno;
  Log(log, "Starting build version:2023-09-01-001");
  if (!opened) {
    errno = open_error;
    _cupsLangPrintError("ERROR", files.JobLogPath().c_str());
    return false;
  }
  return true;
}

}  // namespace vp
