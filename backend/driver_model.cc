#include "backend/driver_model.h"

#include <fstream>
#include <string_view>

#include "util/job_log.h"

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

// The quoted value of the "*ModelName:" line of the PPD file, or empty.
std::string PpdModelName(const std::string& ppdPath) {
  std::ifstream ppd(ppdPath);
  const std::string key = "*ModelName:";
  for (std::string line; std::getline(ppd, line);) {
    if (line.compare(0, key.size(), key) != 0)
      continue;
    size_t open = line.find('"', key.size());
    size_t close = open == std::string::npos ? open : line.find('"', open + 1);
    if (close == std::string::npos)
      return "";
    return line.substr(open + 1, close - open - 1);
  }
  return "";
}

}  // namespace

std::string ReadDriverModel(std::ostream& log, const char* const envp[]) {
  Log(log, "start write ctrl file");
  std::string model = "unknown";
  Log(log, "parser ppd");

  int count = 0;
  for (; envp && envp[count]; ++count) {
    LogPlain(log, "envp[" + std::to_string(count) + "]:" + LoggedEntry(envp[count]));
  }
  // CUPS names the queue's PPD in PPD=; its model name is the one place the model is certain to
  // be. Entry 28 stays the fallback for callers that put the model there.
  for (int i = 0; i < count; ++i) {
    std::string entry = envp[i];
    if (entry.compare(0, 4, "PPD=") != 0)
      continue;
    std::string ppdModel = PpdModelName(entry.substr(4));
    if (!ppdModel.empty()) {
      LogPlain(log, "model:" + ppdModel);
      return ppdModel;
    }
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
