#include "tools/check/checks.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "config/server_settings.h"
#include "submit/login.h"
#include "submit/notifier.h"
#include "submit/server_address.h"
#include "tools/check/check_paths.h"
#include "tools/check/job_files.h"
#include "tools/check/listener.h"
#include "util/paths.h"
#include "util/platform.h"
#include "util/safe_text.h"

namespace vp {

namespace {

constexpr int kConnectSeconds = 5;
// Below this, a day of large jobs can fill the disk, and spooling then waits.
constexpr unsigned long long kLowSpace = 1000ULL * 1000 * 1000;
constexpr size_t kShownAnswer = 300;

// While a backend routine runs here, what it prints for the scheduler and the job log (the
// settings listing, libcurl's trace with the password in the login address) stays out of the
// report.
class Quiet {
 public:
  Quiet() : out_(std::cout.rdbuf(discard_.rdbuf())), err_(std::cerr.rdbuf(discard_.rdbuf())) {
    std::fflush(stderr);
    savedErr_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, 2);
      close(null);
    }
  }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
  ~Quiet() {
    std::fflush(stderr);
    if (savedErr_ >= 0) {
      dup2(savedErr_, 2);
      close(savedErr_);
    }
    std::cout.rdbuf(out_);
    std::cerr.rdbuf(err_);
  }

 private:
  std::ostringstream discard_;
  std::streambuf* out_;
  std::streambuf* err_;
  int savedErr_ = -1;
};

// An absent setting reads as empty text.
bool IsSet(const std::string& setting) {
  return !setting.empty() && !IsEmptySetting(setting);
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string UserOf(uid_t uid) {
  const passwd* user = getpwuid(uid);
  if (uid == 0)
    return "root";
  return "uid " + std::to_string(uid) +
         (user != nullptr ? std::string(" (") + user->pw_name + ")" : "");
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> BackendSearchFolders() {
  return {check_paths::kFilterDir, "/usr/bin", "/usr/sbin", "/bin"};
}

// ---- The client's settings

CheckLine SettingsPermissions(const std::string& path, const struct stat& info) {
  const std::string mode = Octal(info.st_mode);
  if (info.st_uid == 0 && (info.st_mode & 077) == 0)
    return Ok("settings permissions", "root's, mode " + mode);
  return Warn("settings permissions",
              UserOf(info.st_uid) + "'s, mode " + mode +
                  ": others can read or change it, and it holds the user's password",
              "chown root " + path + " && chmod 0600 " + path);
}

// Through getServerInfo, as a job reads them. `why` gets the job log's word on a reading that
// stopped short.
ConfigInfo ReadSettingsAsAJobDoes(std::string& why) {
  std::ostringstream log;
  SettingsReading reading;
  {
    Quiet quiet;
    reading = getServerInfo(log, FixedSettingsFiles());
  }
  why = reading.outcome.detail;
  return reading.config;
}

CheckLine SettingsEntries(const ConfigInfo& config, const std::string& why) {
  const struct {
    const char* key;
    const std::string& value;
  } kNeeded[] = {{"ServerIp", config.ServerIp},
                 {"UserName", config.UserName},
                 {"PassWord2", config.PassWord2}};
  std::string problems;
  for (const auto& entry : kNeeded) {
    if (!IsSet(entry.value))
      problems += std::string(problems.empty() ? "" : ", ") + entry.key +
                  (entry.value.empty() ? " is missing" : " is empty");
  }
  if (problems.empty())
    return Ok("settings entries", "ServerIp, UserName and PassWord2 are set");
  if (!why.empty())
    return Fail("settings entries", "reading stopped: " + why,
                "the file must be a property list with a dictionary \"quoradex\"; see what "
                "plutil -p " +
                    std::string(paths::kSettingsFile) + " prints");
  return Fail("settings entries", problems + ": jobs stop the queue",
              "log in once through the client application, which saves them");
}

// The setting is judged as it is and shown without its user information.
CheckLine ServerIpFormLine(const std::string& setting) {
  const std::string name = "ServerIp form";
  const std::string serverIp = MaskedUserInfo(setting);
  switch (ServerIpForm(setting)) {
    case AddressForm::kHost:
    case AddressForm::kBracketedIpv6:
      return Ok(name, serverIp);
    case AddressForm::kHttps:
      return Ok(name, serverIp + " (https, certificate not checked)");
    case AddressForm::kBareIpv6:
      return Warn(name,
                  serverIp + " is an IPv6 address without brackets: its colons read as a port",
                  "write it as [address]:port");
    case AddressForm::kHttpPrefix:
      return Warn(name, serverIp + " starts with http://, and the backend puts another before it",
                  "write the host alone (host or host:port), or an https:// address");
    case AddressForm::kOther:
      break;
  }
  return Warn(name, "\"" + serverIp + "\" is not host, host:port, [IPv6]:port or an https address",
              "correct ServerIp through the client application");
}

// Missing settings end the settings checks: what follows would only repeat it.
ConfigInfo CheckSettings(Report& report) {
  const std::string path = paths::kSettingsFile;
  struct stat info {};
  bool found = stat(path.c_str(), &info) == 0;
  if (!found || !S_ISREG(info.st_mode)) {
    report.push_back(Fail("settings file", path + (found ? " is not a file" : " does not exist"),
                          "install the client application and log in once: it writes its "
                          "settings there"));
    return ConfigInfo{};
  }
  report.push_back(Ok("settings file", path));
  report.push_back(SettingsPermissions(path, info));
  std::string why;
  ConfigInfo config = ReadSettingsAsAJobDoes(why);
  report.push_back(SettingsEntries(config, why));
  if (IsSet(config.ServerIp))
    report.push_back(ServerIpFormLine(config.ServerIp));
  return config;
}

// ---- Programs the backend runs

CheckLine PlutilLine() {
  const std::string program = paths::kPlutil;
  std::vector<std::string> candidates;
  if (program.find('/') != std::string::npos) {
    candidates.push_back(program);
  } else {
    for (const std::string& folder : BackendSearchFolders())
      candidates.push_back(folder + "/" + program);
  }
  for (const std::string& candidate : candidates) {
    if (IsExecutableFile(candidate))
      return Ok("plutil", candidate);
  }
  return Fail("plutil",
              program + " is not on the PATH CUPS gives backends (" + BackendSearchPath() +
                  "): the backend reads no settings, and every job stops the queue",
#ifdef __APPLE__
              "macOS brings /usr/bin/plutil: restore it"
#else
              "install the package, which puts its plutil stand-in into /usr/bin"
#endif
  );
}

CheckLine PageCountLine() {
  const std::string program = paths::kPageCountProgram;
  if (IsExecutableFile(program))
    return Ok("page-count program", program);
  return Warn("page-count program", program + " is missing: PDF jobs go out without a page count",
              "install it there (the Debian package's backend uses /usr/bin/pdfinfo, from "
              "poppler-utils)");
}

// ---- The backend in CUPS's folder

CheckLine BackendLine() {
  const std::string path = std::string(check_paths::kBackendDir) + "/virtual-printer";
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return Fail("backend", "no backend at " + path,
                "install the package, or cmake --install a build configured for this system");
  if (info.st_uid != 0)
    return Fail("backend",
                path + " is " + UserOf(info.st_uid) + "'s: CUPS runs only a root-owned backend",
                "chown root " + path);
  if ((info.st_mode & 077) != 0 || (info.st_mode & S_IXUSR) == 0)
    return Fail("backend",
                path + " has mode " + Octal(info.st_mode) +
                    ": CUPS runs a backend as root only with mode 0700, and this one must write "
                    "into the log folder",
                "chmod 0700 " + path);
  return Ok("backend", path + ", root's, mode " + Octal(info.st_mode));
}

// ---- The log folder

void CheckLogFolder(Report& report, time_t now) {
  const std::string dir = FixedJobFiles().logDir();
  const std::string folder = dir.substr(0, dir.find_last_not_of('/') + 1);
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    report.push_back(
        Warn("log folder", dir + " does not exist",
             "the backend makes it (mode 0777) with its first job; CUPS normally does"));
    return;
  }
  if (!S_ISDIR(info.st_mode)) {
    report.push_back(Fail(
        "log folder",
        dir + " is not a folder (" + (S_ISLNK(info.st_mode) ? "a symbolic link" : "a file") + ")",
        "make it a folder of its own: --clean follows no link"));
    return;
  }
  struct statvfs space {};
  unsigned long long available = 0;
  if (statvfs(folder.c_str(), &space) == 0)
    available = static_cast<unsigned long long>(space.f_bavail) * space.f_frsize;
  if (available < kLowSpace)
    report.push_back(Warn("log folder", dir + ": only " + HumanBytes(available) + " free",
                          "a full disk makes spooling wait: free space, or remove old job files "
                          "with virtual-printer-check --clean DAYS"));
  else
    report.push_back(Ok("log folder", dir + ": " + HumanBytes(available) + " free"));

  std::vector<JobFile> files;
  ListJobFiles(dir, files);
  unsigned long long bytes = 0;
  time_t oldest = now;
  for (const JobFile& file : files) {
    bytes += file.bytes;
    oldest = std::min(oldest, file.modified);
  }
  if (files.empty())
    report.push_back(Ok("job files", "none"));
  else
    report.push_back(Ok("job files", std::to_string(files.size()) + " (" + HumanBytes(bytes) +
                                         "), the oldest " + HumanAge(now - oldest) + " old"));
}

// ---- The server

struct Target {
  std::string host;
  std::string port;
};

// Host and port of the address the backend makes of the setting, as libcurl reads it.
bool ServerTarget(const std::string& serverIp, Target& target) {
  CURLU* url = curl_url();
  char* host = nullptr;
  char* port = nullptr;
  bool ok = url != nullptr &&
            curl_url_set(url, CURLUPART_URL, serverBaseAddress(serverIp).c_str(), 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
  if (ok) {
    target.host = host;
    target.port = port;
    if (target.host.size() > 2 && target.host.front() == '[')
      target.host = target.host.substr(1, target.host.size() - 2);
  }
  curl_free(host);
  curl_free(port);
  curl_url_cleanup(url);
  return ok;
}

// Empty when a TCP connection came about within the time, else why not.
std::string ConnectWithin(const Target& target, std::chrono::seconds limit) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int resolved = getaddrinfo(target.host.c_str(), target.port.c_str(), &hints, &found);
  if (resolved != 0)
    return gai_strerror(resolved);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string why = "no address";
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    int fd = SocketCloexec(at->ai_family, at->ai_socktype, at->ai_protocol, true);
    if (fd < 0)
      continue;
    int error = connect(fd, at->ai_addr, at->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fd, POLLOUT, 0};
      socklen_t size = sizeof error;
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1)
        error = ETIMEDOUT;
      else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    }
    close(fd);
    if (error == 0) {
      freeaddrinfo(found);
      return "";
    }
    why = std::strerror(error);
  }
  freeaddrinfo(found);
  return why;
}

CheckLine ServerLine(const std::string& serverIp) {
  Target target;
  if (!ServerTarget(serverIp, target))
    return Fail(
        "server",
        "the backend cannot make an address of ServerIp \"" + MaskedUserInfo(serverIp) + "\"",
        "correct ServerIp through the client application");
  const std::string where = target.host + " port " + target.port;
  std::string why = ConnectWithin(target, std::chrono::seconds(kConnectSeconds));
  if (!why.empty())
    return Fail("server",
                "no connection to " + where + " within " + std::to_string(kConnectSeconds) +
                    " s: " + why + "; jobs stop the queue",
                "check ServerIp, the network and that the print-management server runs");
  return Ok("server", where + " takes connections");
}

// The real login request a job sends, judged as a job judges it; the token in the answer is
// shown as ***.
CheckLine LoginLine(const ConfigInfo& config) {
  LoginAnswer answer;
  {
    Quiet quiet;
    answer = FetchLoginAnswer(loginAddress(config.ServerIp, percentEncode(config.UserName),
                                           percentEncode(config.PassWord2)));
  }
  const LoginJudgement judgement = JudgeLogin(answer);
  if (judgement.verdict == LoginVerdict::kUnreachable)
    return Fail("login",
                std::string("no answer: ") +
                    curl_easy_strerror(static_cast<CURLcode>(answer.curlResult)) + " (libcurl " +
                    std::to_string(answer.curlResult) + ")",
                "check ServerIp and that the print-management server runs");
  std::string shown = maskTokens(answer.body);
  if (shown.size() > kShownAnswer)
    shown = shown.substr(0, kShownAnswer) + "...";
  switch (judgement.verdict) {
    case LoginVerdict::kAccepted:
      return Ok("login", "accepted with code 01: " + shown);
    case LoginVerdict::kRefused:
      return Fail("login",
                  "refused with code " + judgement.code + ": " + shown +
                      "; jobs are held for authentication",
                  "check UserName and PassWord2: log in again through the client application");
    default:
      break;
  }
  if (judgement.code == kLoginAccepted)
    return Fail("login",
                "accepted with code 01 but without a token: " + shown + "; jobs stop the queue",
                "check that ServerIp names the print-management server");
  return Fail("login", "an answer without a code: " + shown + "; jobs stop the queue",
              "check that ServerIp names the print-management server");
}

// ---- The notifier and CUPS's log level

CheckLine NotifierLine() {
  const std::string where = std::string(kNotifierHost) + ":" + std::to_string(kNotifierPort);
  Listener listener = LoopbackListener(kNotifierPort);
  if (!listener.listening)
    return Warn("notifier", "nothing listens on " + where,
                "start the client application: its notifier asks users to log in when a job "
                "cannot be sent");
  if (!listener.ownerKnown)
    return Ok("notifier",
              "something listens on " + where + "; who owns it is unknown on this system");
  std::string process;
  if (listener.pid > 0)
    process = "process " + std::to_string(listener.pid) + " (" + listener.program + ")";
  if (listener.uid == 0)
    return Ok("notifier", where + " is root's" + (process.empty() ? "" : ": " + process));
  return Warn("notifier",
              where + " is taken by " + UserOf(listener.uid) +
                  (process.empty() ? "" : ", " + process) +
                  ": the backend tells it about every job it cannot send, and any local user "
                  "can listen there",
              "make sure it is the client application's notifier; if not, stop that program");
}

CheckLine LogLevelLine() {
  const std::string path = check_paths::kCupsdConf;
  std::ifstream in(path);
  if (!in)
    return Warn("CUPS log level", "cannot read " + path, "check the scheduler's configuration");
  std::ostringstream text;
  text << in.rdbuf();
  std::string level = LogLevelOf(text.str());
  if (level.starts_with("debug"))
    return Warn("CUPS log level",
                "LogLevel " + level + " in " + path +
                    ": CUPS's error_log keeps every job's trace, the login address with the "
                    "user's name among it (the password and the token show as ***)",
                "set LogLevel warn there and restart CUPS (cupsctl --no-debug-logging does both)");
  return Ok("CUPS log level",
            "LogLevel " + (level.empty() ? "not set (CUPS's default: warn)" : level));
}

}  // namespace

AddressForm ServerIpForm(const std::string& serverIp) {
  // The backend takes anything beginning with "https" as a whole base address.
  if (isHttpsAddress(serverIp))
    return serverIp.starts_with("https://") ? AddressForm::kHttps : AddressForm::kOther;
  if (serverIp.starts_with("http://"))
    return AddressForm::kHttpPrefix;
  std::string host = serverIp;
  std::string port;
  AddressForm form = AddressForm::kHost;
  if (serverIp.starts_with("[")) {
    size_t close = serverIp.find(']');
    if (close == std::string::npos)
      return AddressForm::kOther;
    host = serverIp.substr(1, close - 1);
    std::string rest = serverIp.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || rest.size() == 1))
      return AddressForm::kOther;
    port = rest.empty() ? "" : rest.substr(1);
    form = AddressForm::kBracketedIpv6;
    if (host.empty() || host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
      return AddressForm::kOther;
  } else if (std::count(serverIp.begin(), serverIp.end(), ':') >= 2) {
    return serverIp.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos
               ? AddressForm::kBareIpv6
               : AddressForm::kOther;
  } else if (size_t colon = serverIp.find(':'); colon != std::string::npos) {
    host = serverIp.substr(0, colon);
    port = serverIp.substr(colon + 1);
    if (port.empty())
      return AddressForm::kOther;
  }
  const char kHostCharacters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_";
  if (form == AddressForm::kHost &&
      (host.empty() || host.find_first_not_of(kHostCharacters) != std::string::npos))
    return AddressForm::kOther;
  if (!port.empty() &&
      (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
       std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535))
    return AddressForm::kOther;
  return form;
}

std::string LogLevelOf(const std::string& cupsdConf) {
  std::string level;
  std::istringstream lines(cupsdConf);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string directive, value;
    words >> directive >> value;
    std::transform(directive.begin(), directive.end(), directive.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (directive == "loglevel" && !value.empty()) {
      std::transform(value.begin(), value.end(), value.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      level = value;
    }
  }
  return level;
}

std::string BackendSearchPath() {
  std::string path;
  for (const std::string& folder : BackendSearchFolders())
    path += (path.empty() ? "" : ":") + folder;
  return path;
}

Report RunChecks(const CheckOptions& options) {
  // plutil, found as a job finds it.
  setenv("PATH", BackendSearchPath().c_str(), 1);
  Report report;
  if (geteuid() != 0)
    report.push_back(Warn("user",
                          "not run as root: root-only files and other users' sockets may be "
                          "hidden from this check",
                          "run it as root, as CUPS runs the backend"));
  ConfigInfo config = CheckSettings(report);
  report.push_back(PlutilLine());
  report.push_back(PageCountLine());
  report.push_back(BackendLine());
  CheckScheduler(report);
  CheckLogFolder(report, std::time(nullptr));
  if (IsSet(config.ServerIp)) {
    report.push_back(ServerLine(config.ServerIp));
    if (options.login && IsSet(config.UserName) && IsSet(config.PassWord2))
      report.push_back(LoginLine(config));
  }
  report.push_back(NotifierLine());
  report.push_back(LogLevelLine());
  return report;
}

}  // namespace vp
