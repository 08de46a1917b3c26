#include "submit/submission.h"

#include <cups/backend.h>
#include <curl/curl.h>

#include <cstdlib>
#include <exception>
#include <nlohmann/json.hpp>

#include "config/server_settings.h"
#include "submit/login.h"
#include "submit/notifier.h"
#include "submit/upload.h"
#include "util/job_log.h"
#include "util/quoted_input.h"
#include "util/safe_text.h"

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

// What the queue shows on each road where the server cannot take the job.
constexpr char kNoSettings[] =
    "The client application's settings hold no print server address, user name or password: "
    "sign in with the client application, then resume the printer";
constexpr char kRefused[] =
    "The print server refused the login: log in with the client application, then release the "
    "held job";
constexpr char kUnreadableAnswer[] =
    "The print server's answer to the login could not be read: check the server address in the "
    "client application, then resume the printer";

// A login answer without "code": libcurl's error number when the request failed, else whatever
// the server sent.
std::string loginFailure(const ConfigInfo& config, const std::string& answer) {
  if (config.ServerIp.empty())
    return kNoSettings;
  if (answer.empty() || answer.find_first_not_of("0123456789") != std::string::npos)
    return kUnreadableAnswer;
  return "The print server at " + MaskedUserInfo(config.ServerIp) + " cannot be reached: " +
         curl_easy_strerror(static_cast<CURLcode>(std::atoi(answer.c_str()))) +
         ". Check the server address and the network, then resume the printer";
}

int upload(std::ostream& log, const ConfigInfo& config, const std::string& token,
           const JobInfo& job, const std::string& dataFileName, const QueueStatus& status) {
  Log(log, "start upload print job");
  UploadOutcome outcome =
      uploadFileToQuoradexV2(log, config.ServerIp, token, job, dataFileName, status);
  // Ends the server's answer, which was written to the log without a line end.
  Log(log, "\n");
  Log(log, std::string("end upload job result:") + (outcome.completed ? "1" : "0"));
  if (!outcome.completed) {
    Log(log, "upload fail");
    ReportFailure(status, "The upload to the print server failed: " + outcome.failure +
                              ". The job is kept: resume the printer to send it again");
    return CUPS_BACKEND_STOP;
  }
  Log(log, "upload finished");
  // Such an answer still ends the job as sent; only the queue hears of it, and no pages are billed.
  if (outcome.httpStatus >= 400) {
    ReportWarning(status, "The print server answered the upload with HTTP status " +
                              std::to_string(outcome.httpStatus) +
                              ": it may not have stored the job");
    return CUPS_BACKEND_OK;
  }
  ReportPages(status, job);
  return CUPS_BACKEND_OK;
}

// Everything but the exception path; JSON errors in the login answer escape from here.
int submitSteps(std::ostream& log, const JobInfo& job, const std::string& jobUuid,
                const std::string& dataFileName, const QueueStatus& status) {
  ConfigInfo config = getServerInfo(log);
  if (credentialsMissing(config)) {
    Log(log, "username or password or serverip is empty!");
    ReportFailure(status, kNoSettings);
    notifyUser(jobUuid);
    return CUPS_BACKEND_STOP;
  }
  Log(log, "start login get token");
  ReportConnecting(status);
  std::string answer = authByUserName(log, config.ServerIp, config.UserName, config.PassWord2);
  ReportConnected(status);
  // A failed request returns a bare error number, which lands here too.
  if (answer.find("code") == std::string::npos) {
    Log(log, "login failed");
    ReportFailure(status, loginFailure(config, answer));
    notifyUser(jobUuid);
    return CUPS_BACKEND_STOP;
  }
  nlohmann::json reply = nlohmann::json::parse(answer);
  if (reply.at("code").get<std::string>() != "01") {
    Log(log, "login failed begin notify need auth");
    ReportFailure(status, kRefused);
    notifyUser(jobUuid);
    return CUPS_BACKEND_AUTH_REQUIRED;
  }
  Log(log, "login success");
  std::string token = reply.at("token").get<std::string>();
  return upload(log, config, token, job, dataFileName, status);
}

}  // namespace

int SubmitJob(std::ostream& log, const JobInfo& job, const std::string& jobUuid,
              const std::string& dataFileName, const QueueStatus& status) {
  try {
    return submitSteps(log, job, jobUuid, dataFileName, status);
  } catch (const std::exception& e) {
    Log(log, std::string("Error occurred:") + WithoutQuotedInput(e.what()));
    ReportFailure(status, kUnreadableAnswer);
    Log(log, "begin notify");
    if (!notifyUser(jobUuid)) {
      Log(log, "notify res:", "1");
    }
    return CUPS_BACKEND_STOP;
  }
}
