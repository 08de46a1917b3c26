#include "submit/submission.h"

#include <cups/backend.h>

#include <exception>
#include <nlohmann/json.hpp>

#include "config/server_settings.h"
#include "submit/login.h"
#include "submit/notifier.h"
#include "submit/upload.h"
#include "util/job_log.h"
#include "util/quoted_input.h"

namespace {

// An empty setting reads as ","; an absent one as empty text, which is let through.
constexpr char kEmptySetting[] = ",";

httplib::Result notifyUser(const std::string& jobUuid) {
  return notify(kNotifierHost, kNotifierPort, _key, jobUuid);
}

bool credentialsMissing(const ConfigInfo& config) {
  return config.ServerIp == kEmptySetting || config.UserName == kEmptySetting ||
         config.PassWord2 == kEmptySetting;
}

int upload(std::ostream& log, const ConfigInfo& config, const std::string& token,
           const JobInfo& job, const std::string& dataFileName) {
  Log(log, "start upload print job");
  bool ok = uploadFileToQuoradexV2(log, config.ServerIp, token, job, dataFileName);
  // Ends the server's answer, which was written to the log without a line end.
  Log(log, "\n");
  Log(log, std::string("end upload job result:") + (ok ? "1" : "0"));
  if (!ok) {
    Log(log, "upload fail");
    return CUPS_BACKEND_STOP;
  }
  Log(log, "upload finished");
  return CUPS_BACKEND_OK;
}

// Everything but the exception path; JSON errors in the login answer escape from here.
int submitSteps(std::ostream& log, const JobInfo& job, const std::string& jobUuid,
                const std::string& dataFileName) {
  ConfigInfo config = getServerInfo(log);
  if (credentialsMissing(config)) {
    Log(log, "username or password or serverip is empty!");
    notifyUser(jobUuid);
    return CUPS_BACKEND_STOP;
  }
  Log(log, "start login get token");
  std::string answer = authByUserName(log, config.ServerIp, config.UserName, config.PassWord2);
  // A failed request returns a bare error number, which lands here too.
  if (answer.find("code") == std::string::npos) {
    Log(log, "login failed");
    notifyUser(jobUuid);
    return CUPS_BACKEND_STOP;
  }
  nlohmann::json reply = nlohmann::json::parse(answer);
  if (reply.at("code").get<std::string>() != "01") {
    Log(log, "login failed begin notify need auth");
    notifyUser(jobUuid);
    return CUPS_BACKEND_AUTH_REQUIRED;
  }
  Log(log, "login success");
  std::string token = reply.at("token").get<std::string>();
  return upload(log, config, token, job, dataFileName);
}

}  // namespace

int SubmitJob(std::ostream& log, const JobInfo& job, const std::string& jobUuid,
              const std::string& dataFileName) {
  try {
    return submitSteps(log, job, jobUuid, dataFileName);
  } catch (const std::exception& e) {
    Log(log, std::string("Error occurred:") + WithoutQuotedInput(e.what()));
    Log(log, "begin notify");
    if (!notifyUser(jobUuid)) {
      Log(log, "notify res:", "1");
    }
    return CUPS_BACKEND_STOP;
  }
}
