#include "backend/driver_model.h"

#include <string_view>

#include "util/job_log.h"

namespace vp {

namespace {

constexpr int kDriverModelEntry = 28;

// Credentials CUPS passes to a queue with auth-info-required; the job log is world-readable.
constexpr std::string_view kSecretEntries[] = {
    "AUTH_USERNAME=", "AUTH_PASSWORD=", "AUTH_DOMAIN=", "AUTH_NEGOTIATE="};

std::string LoggedEntry(std::string_view entry) {
  for (std::string_view secret : kSecretEntries) {
    if (entry.starts_with(secret))
      return std::string(secret) + "***";
  }
  return std::string(entry);
}

std::string PpdPathFromEnvironment(const char* const envp[]) {
  for (int i = 0; envp && envp[i]; ++i) {
    std::string_view entry = envp[i];
    if (entry.starts_with("PPD="))
      return std::string(entry.substr(4));
  }
  return "";
}

}  // namespace

DriverInput ReadDriver(std::ostream& log, const char* const envp[]) {
  Log(log, "start write ctrl file");
  DriverInput driver;
  driver.model = "unknown";
  Log(log, "parser ppd");

  int count = 0;
  for (; envp && envp[count]; ++count) {
    LogPlain(log, "envp[" + std::to_string(count) + "]:" + LoggedEntry(envp[count]));
  }
  // CUPS names the queue's PPD in PPD=; its model name is the one place the model is certain to
  // be. Entry 28 stays the fallback for callers that put the model there.
  driver.ppdPath = PpdPathFromEnvironment(envp);
  if (!driver.ppdPath.empty()) {
    driver.ppd = ReadPpd(driver.ppdPath);
    for (const std::string& limit : driver.ppd.limits)
      LogPlain(log, limit);
    if (!driver.ppd.modelName.empty()) {
      driver.model = driver.ppd.modelName;
      LogPlain(log, "model:" + driver.model);
      return driver;
    }
  }
  if (count > kDriverModelEntry) {
    std::string entry = envp[kDriverModelEntry];
    size_t equals = entry.find('=');
    if (equals != std::string::npos) {
      driver.model = entry.substr(equals + 1);
      LogPlain(log, "model:" + driver.model);
    }
  }
  return driver;
}

}  // namespace vp
