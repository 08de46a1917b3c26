#include "submit/submission.h"

#include <curl/curl.h>

#include <algorithm>
#include <ctime>
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

namespace vp {

namespace {

httplib::Result notifyUser(const std::string& jobUuid) {
  return notify(kNotifierHost, kNotifierPort, kNotifierKey, jobUuid);
}

bool credentialsMissing(const ConfigInfo& config) {
  // An absent one is let through: the login then sends nothing and says so.
  return IsEmptySetting(config.ServerIp) || IsEmptySetting(config.UserName) ||
         IsEmptySetting(config.PassWord2);
}

// A login that got no answer: with no server set, nothing was sent.
Outcome noAnswer(const ConfigInfo& config, const LoginAnswer& answer) {
  if (config.ServerIp.empty())
    return {Failure::kNoSettings, ""};
  return {Failure::kUnreachable, MaskedUserInfo(config.ServerIp) + " cannot be reached: " +
                                     curl_easy_strerror(static_cast<CURLcode>(answer.curlResult))};
}

Outcome upload(std::ostream& log, const JobFiles& files, const ConfigInfo& config,
               const std::string& token, const JobInfo& job, const std::string& dataFileName,
               const QueueStatus& status) {
  Log(log, "start upload print job");
  UploadResult sent =
      uploadFileToQuoradexV2(log, files, config.ServerIp, token, job, dataFileName, status);
  // Ends the server's answer, which was written to the log without a line end.
  Log(log, "\n");
  Log(log, std::string("end upload job result:") + (sent.outcome.ok() ? "1" : "0"));
  if (!sent.outcome.ok()) {
    Log(log, "upload fail");
    return sent.outcome;
  }
  Log(log, "upload finished");
  // Such an answer still ends the job as sent; only the queue hears of it, and no pages are billed.
  if (sent.httpStatus >= 400)
    return {Failure::kUploadNotStored, std::to_string(sent.httpStatus)};
  return {};
}

using Clock = std::chrono::system_clock;

// One try's end: its outcome, or that the server could not be reached and the job waits for it.
struct Try {
  Outcome outcome;
  bool again = false;
  // The server the try could not reach, for the queue's message, and libcurl's words.
  std::string serverIp;
  std::string reason;
};

Try ended(const Outcome& outcome) {
  Try attempt;
  attempt.outcome = outcome;
  return attempt;
}

Try waiting(const std::string& serverIp, const std::string& reason) {
  Try attempt;
  attempt.again = true;
  attempt.serverIp = serverIp;
  attempt.reason = reason;
  return attempt;
}

// With time left in the wait, a login that reached no server ends the try.
bool waitsForServer(const LoginAnswer& answer, const std::optional<Clock::time_point>& waitUntil) {
  return waitUntil && Clock::now() < *waitUntil && !answer.answered &&
         ServerUnreachable(answer.curlResult, answer.connected);
}

// One try: the settings, the login and the upload.
Try submitOnce(std::ostream& log, const JobFiles& files, const SettingsFiles& settings,
               const JobInfo& job, const std::string& dataFileName, const QueueStatus& status,
               const std::optional<Clock::time_point>& waitUntil) {
  ConfigInfo config = getServerInfo(log, settings).config;
  if (credentialsMissing(config)) {
    Log(log, "username or password or serverip is empty!");
    return ended({Failure::kNoSettings, ""});
  }
  Log(log, "start login get token");
  ReportConnecting(status);
  LoginAnswer answer = authByUserName(log, config.ServerIp, config.UserName, config.PassWord2);
  if (waitsForServer(answer, waitUntil)) {
    // The queue stays connecting-to-device until the server answers or the wait ends.
    return waiting(config.ServerIp, curl_easy_strerror(static_cast<CURLcode>(answer.curlResult)));
  }
  ReportConnected(status);
  LoginJudgement judgement = JudgeLogin(answer);
  if (judgement.verdict == LoginVerdict::kUnreachable ||
      (judgement.verdict == LoginVerdict::kUnreadable && judgement.error.empty())) {
    Log(log, "login failed");
    return ended(judgement.verdict == LoginVerdict::kUnreachable
                     ? noAnswer(config, answer)
                     : Outcome{Failure::kUnreadableAnswer, ""});
  }
  if (judgement.verdict == LoginVerdict::kRefused) {
    Log(log, "login failed begin notify need auth");
    return ended({Failure::kRefused, judgement.code});
  }
  if (judgement.code == kLoginAccepted)
    Log(log, "login success");
  if (judgement.verdict == LoginVerdict::kUnreadable) {
    Log(log, std::string("Error occurred:") + WithoutQuotedInput(judgement.error));
    return ended({Failure::kMalformedAnswer, WithoutQuotedInput(judgement.error)});
  }
  return ended(upload(log, files, config, judgement.token, job, dataFileName, status));
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

Outcome SubmitJob(std::ostream& log, const JobFiles& files, const SettingsFiles& settings,
                  const JobInfo& job, const std::string& dataFileName, const QueueStatus& status,
                  std::chrono::seconds wait) {
  std::optional<Clock::time_point> waitUntil;
  if (wait > std::chrono::seconds(0))
    waitUntil = Clock::now() + wait;
  for (int failedTries = 1;; ++failedTries) {
    Try attempt = submitOnce(log, files, settings, job, dataFileName, status, waitUntil);
    if (!attempt.again)
      return attempt.outcome;
    // The last try comes when the wait ends, not after it.
    Clock::time_point now = Clock::now();
    Clock::duration pause = std::clamp<Clock::duration>(*waitUntil - now, Clock::duration::zero(),
                                                        WaitPause(failedTries));
    std::chrono::seconds shown = std::chrono::ceil<std::chrono::seconds>(pause);
    Log(log, "server cannot be reached, next try in " + std::to_string(shown.count()) + " s");
    ReportWaiting(status,
                  WaitingMessage(attempt.serverIp, attempt.reason, shown, now + pause, *waitUntil));
    // A cancel (SIGTERM, whose default action is back since spooling) ends the backend here.
    std::this_thread::sleep_for(pause);
  }
}

void TellNotifier(std::ostream& log, const Outcome& submission, const std::string& jobUuid) {
  switch (submission.failure) {
    case Failure::kNoSettings:
    case Failure::kUnreachable:
    case Failure::kUnreadableAnswer:
    case Failure::kRefused:
      notifyUser(jobUuid);
      return;
    case Failure::kMalformedAnswer:
      Log(log, "begin notify");
      if (!notifyUser(jobUuid))
        Log(log, "notify res:", "1");
      return;
    default:
      return;
  }
}

}  // namespace vp
