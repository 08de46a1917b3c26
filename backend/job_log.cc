#include "backend/job_log.h"

#include <ctime>

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

void LogPlain(std::ostream& log, const std::string& line) { log << line << '\n' << std::flush; }
