#include "submit/submission.h"

#include <cups/backend.h>
#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <utility>

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

int upload(std::ostream& log, const JobFiles& files, const ConfigInfo& config,
           const std::string& token, const JobInfo& job, const std::string& dataFileName,
           const QueueStatus& status) {
  Log(log, "start upload print job");
  UploadOutcome outcome =
      uploadFileToQuoradexV2(log, files, config.ServerIp, token, job, dataFileName, status);
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

using Clock = std::chrono::system_clock;

// A try's result when the server could not be reached and the job waits for it.
constexpr int kTryAgain = -1;

// The server a try could not reach, for the queue's message.
struct Unreached {
  std::string serverIp;
  std::string reason;  // libcurl's words
};

// With time left in the wait, a login that reached no server ends the try (`answer` is then
// libcurl's result in decimal).
bool waitsForServer(const std::string& answer, bool connected,
                    const std::optional<Clock::time_point>& waitUntil) {
  return waitUntil && Clock::now() < *waitUntil && !answer.empty() &&
         answer.find_first_not_of("0123456789") == std::string::npos &&
         ServerUnreachable(std::atoi(answer.c_str()), connected);
}

// Everything but the exception path; JSON errors in the login answer escape from here.
int submitSteps(std::ostream& log, const JobFiles& files, const SettingsFiles& settings,
                const JobInfo& job, const std::string& jobUuid, const std::string& dataFileName,
                const QueueStatus& status, const std::optional<Clock::time_point>& waitUntil,
                Unreached& unreached) {
  ConfigInfo config = getServerInfo(log, settings);
  if (credentialsMissing(config)) {
    Log(log, "username or password or serverip is empty!");
    ReportFailure(status, kNoSettings);
    notifyUser(jobUuid);
    return CUPS_BACKEND_STOP;
  }
  Log(log, "start login get token");
  ReportConnecting(status);
  bool connected = false;
  std::string answer =
      authByUserName(log, config.ServerIp, config.UserName, config.PassWord2, &connected);
  if (waitsForServer(answer, connected, waitUntil)) {
    // The queue stays connecting-to-device until the server answers or the wait ends.
    unreached = {config.ServerIp,
                 curl_easy_strerror(static_cast<CURLcode>(std::atoi(answer.c_str())))};
    return kTryAgain;
  }
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
  return upload(log, files, config, token, job, dataFileName, status);
}

// One try: the settings, the login and the upload.
int submitOnce(std::ostream& log, const JobFiles& files, const SettingsFiles& settings,
               const JobInfo& job, const std::string& jobUuid, const std::string& dataFileName,
               const QueueStatus& status, const std::optional<Clock::time_point>& waitUntil,
               Unreached& unreached) {
  try {
    return submitSteps(log, files, settings, job, jobUuid, dataFileName, status, waitUntil,
                       unreached);
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

std::string localTime(Clock::time_point when, const char* format) {
  std::time_t seconds = Clock::to_time_t(when);
  struct tm local {};
  localtime_r(&seconds, &local);
  char text[64] = {};
  std::strftime(text, sizeof text, format, &local);
  return text;
}

}  // namespace

std::chrono::seconds WaitPause(int failedTries) {
  std::chrono::seconds pause(1), next(2);
  for (int i = 1; i < failedTries && pause < kMaxWaitPause; ++i) {
    pause = std::exchange(next, pause + next);
  }
  return std::min(pause, kMaxWaitPause);
}

std::string WaitingMessage(const std::string& serverIp, const std::string& reason,
                           std::chrono::seconds pause, Clock::time_point nextTry,
                           Clock::time_point waitUntil) {
  return "The print server at " + MaskedUserInfo(serverIp) + " cannot be reached: " + reason +
         ". Next try in " + std::to_string(pause.count()) + " s, at " +
         localTime(nextTry, "%H:%M:%S") + "; the job waits for the server until " +
         localTime(waitUntil, "%Y-%m-%d %H:%M:%S");
}

int SubmitJob(std::ostream& log, const JobFiles& files, const SettingsFiles& settings,
              const JobInfo& job, const std::string& jobUuid, const std::string& dataFileName,
              const QueueStatus& status, std::chrono::seconds wait) {
  std::optional<Clock::time_point> waitUntil;
  if (wait > std::chrono::seconds(0))
    waitUntil = Clock::now() + wait;
  for (int failedTries = 1;; ++failedTries) {
    Unreached unreached;
    int result =
        submitOnce(log, files, settings, job, jobUuid, dataFileName, status, waitUntil, unreached);
    if (result != kTryAgain)
      return result;
    // The last try comes when the wait ends, not after it.
    Clock::time_point now = Clock::now();
    Clock::duration pause = std::clamp<Clock::duration>(*waitUntil - now, Clock::duration::zero(),
                                                        WaitPause(failedTries));
    std::chrono::seconds shown = std::chrono::ceil<std::chrono::seconds>(pause);
    Log(log, "server cannot be reached, next try in " + std::to_string(shown.count()) + " s");
    ReportWaiting(status, WaitingMessage(unreached.serverIp, unreached.reason, shown, now + pause,
                                         *waitUntil));
    // A cancel (SIGTERM, whose default action is back since spooling) ends the backend here.
    std::this_thread::sleep_for(pause);
  }
}
