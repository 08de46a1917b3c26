// virtual-printer-check as an administrator runs it: the sandbox build against a private scheduler
// in the sandbox's CUPS folders with the sandboxed backend installed, the local print server, and
// the sandbox's settings and log folder. A good set-up, then one broken thing at a time; then the
// clean of old job files.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cups/private_cups.h"
#include "tests/support/client_settings.h"
#include "util/job_files.h"

namespace vp {

namespace {

const std::string kCheck = std::string(VP_SANDBOX) + "/bin/virtual-printer-check";
constexpr uid_t kNobody = 65534;
constexpr int kNotifierPort = 10029;

// Stands for the local print server's address, known once it runs.
constexpr char kPrintServer[] = "PRINT-SERVER";

// A good set-up, unless a case changes it.
struct SetUpChoices {
  std::map<std::string, std::string> settings = {
      {"ServerIp", kPrintServer}, {"UserName", "alice"}, {"PassWord2", "s3cret"}};  // none: no file
  mode_t settingsMode = 0600;
  bool notifier = true;
  std::string logLevel = "warn";
};

// A loopback listener on the port owned by an unprivileged user, as any local user could start,
// under the process name given, if any.
void ListenAsNobody(int port, const char* name = nullptr) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  if (fork() == 0) {
    if (name != nullptr)
      prctl(PR_SET_NAME, name);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = -1;
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0 ||
        (fd = socket(AF_INET, SOCK_STREAM, 0)) < 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 1) != 0 || write(ready[1], "y", 1) != 1)
      _exit(1);
    close(ready[1]);
    _exit(pause());  // ends with the test's namespace
  }
  char said = 0;
  close(ready[1]);
  ASSERT_EQ(read(ready[0], &said, 1), 1) << "the listener did not start";
  close(ready[0]);
}

// The lines that are not "ok", in the order printed.
std::vector<std::string> NotOk(const std::string& output) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(output)) {
    if (line.starts_with("warn ") || line.starts_with("FAIL "))
      lines.push_back(line);
  }
  return lines;
}

class CheckProgram : public testing::Test {
 protected:
  void Start(const SetUpChoices& choices) {
    world_.root = std::string(VP_SANDBOX) + "/cups";
    world_.notifier = choices.notifier;
    world_.logLevel = choices.logLevel;
    ASSERT_EQ(StartWorld(world_, std::string(VP_SANDBOX) + "/bin/virtual-printer"), "");
    std::map<std::string, std::string> settings = choices.settings;
    std::string& serverIp = settings["ServerIp"];
    if (size_t at = serverIp.find(kPrintServer); at != std::string::npos)
      serverIp.replace(at, sizeof kPrintServer - 1,
                       "127.0.0.1:" + std::to_string(world_.serverPort));
    if (!choices.settings.empty()) {
      ASSERT_TRUE(WriteFile(world_.settings, ClientSettingsPlist(settings)));
      ASSERT_EQ(chmod(world_.settings.c_str(), choices.settingsMode), 0);
    }
    ASSERT_EQ(AddQueue(world_, "office", ""), "");
    ASSERT_EQ(mkdir(world_.logDir.c_str(), 0755), 0);
  }

  void TearDown() override { StopWorld(world_); }

  static CommandResult Check(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kCheck);
    return RunCommand(arguments);
  }

  World world_;
};

struct BrokenCase {
  const char* name;
  std::function<void(SetUpChoices&)> before;  // changes the good set-up's choices
  std::function<void(const World&)> after;    // or what runs
  std::vector<std::string> notOk;             // how each line that is not ok begins
  int exit;
  std::vector<std::string> arguments = {};
  const char* alsoSays = "";
};

const std::vector<BrokenCase> kBrokenCases = {
    {"GoodSetUpWithLogin",
     nullptr,
     nullptr,
     {},
     0,
     {"--login"},
     "ok   login: accepted with code 01: {\"code\":\"01\",\"token\":\"***\"}"},
    {"MissingSettings",
     [](SetUpChoices& c) { c.settings.clear(); },
     nullptr,
     {"FAIL settings file: " VP_SANDBOX "/private/var/spool/VirtualFile does not exist"},
     1},
    {"WorldReadableSettings",
     [](SetUpChoices& c) { c.settingsMode = 0644; },
     nullptr,
     {"warn settings permissions: root's, mode 0644: others can read"},
     0},
    {"EmptyUserName",
     [](SetUpChoices& c) { c.settings["UserName"] = ""; },
     nullptr,
     {"FAIL settings entries: UserName is empty"},
     1,
     {"--login"}},
    {"MissingPassWord2",
     [](SetUpChoices& c) { c.settings.erase("PassWord2"); },
     nullptr,
     {"FAIL settings entries: PassWord2 is missing"},
     1},
    {"BareIpv6",
     [](SetUpChoices& c) { c.settings["ServerIp"] = "::1"; },
     nullptr,
     {"warn ServerIp form: ::1 is an IPv6 address without brackets",
      "FAIL server: the backend cannot make an address of ServerIp \"::1\""},
     1},
    {"UnreachableServer",
     [](SetUpChoices& c) { c.settings["ServerIp"] = "127.0.0.1:" + std::to_string(UnusedPort()); },
     nullptr,
     {"FAIL server: no connection to 127.0.0.1 port "},
     1,
     {},
     " within 5 s: Connection refused; jobs stop the queue"},
    {"LoginRefused",
     [](SetUpChoices& c) { c.settings["PassWord2"] = "wrong"; },
     nullptr,
     {"FAIL login: refused with code 02"},
     1,
     {"--login"}},
    {"BackendMode0755",
     nullptr,
     [](const World& w) { chmod((w.serverBin + "/backend/virtual-printer").c_str(), 0755); },
     {"FAIL backend: " VP_SANDBOX "/cups/bin/backend/virtual-printer has mode 0755"},
     1},
    {"QueueStopped",
     nullptr,
     [](const World&) {
       RunCommand({"cupsdisable", "office"});
     },
     {"FAIL queue office: virtual-printer:/, stopped"},
     1},
    // Each queue's wait for a server that cannot be reached, and whether the scheduler lets a job
    // wait that long (job-cancel-after-default: MaxJobTime, 3 hours, unless the queue sets it).
    {"QueueWithoutWait",
     nullptr,
     nullptr,
     {},
     0,
     {},
     "ok   queue office: virtual-printer:/, idle; a server that cannot be reached stops the queue "
     "(no wait)\n"},
    {"QueueWaitsLongerThanTheSchedulerKeepsAJob",
     nullptr,
     [](const World&) {
       RunCommand({"lpadmin", "-p", "office", "-v", "virtual-printer:/?status=on&wait=86400"});
     },
     {"warn queue office: virtual-printer:/?status=on&wait=86400, idle; waits 86400 s (24 hours) "
      "for a server that cannot be reached, but the scheduler cancels a job after 10800 s "
      "(job-cancel-after-default)"},
     0,
     {},
     "-> lpadmin -p office -o job-cancel-after-default=97200\n"},
    {"QueueWaitsWithinTheSchedulersTime",
     nullptr,
     [](const World&) {
       RunCommand({"lpadmin", "-p", "office", "-v", "virtual-printer:/?wait=60", "-o",
                   "job-cancel-after-default=97200"});
     },
     {},
     0,
     {},
     "ok   queue office: virtual-printer:/?wait=60, idle; waits 60 s (1 minute) for a server that "
     "cannot be reached\n"},
    {"UserListensOnNotifierPort",
     [](SetUpChoices& c) { c.notifier = false; },
     [](const World&) { ListenAsNobody(kNotifierPort); },
     {"warn notifier: 127.0.0.1:10029 is taken by uid 65534 (nobody), process "},
     0},
    {"SquatterNamedToRewriteTheLine",
     [](SetUpChoices& c) { c.notifier = false; },
     [](const World&) { ListenAsNobody(kNotifierPort, "x\x1b[2J\rok fine"); },
     {"warn notifier: 127.0.0.1:10029 is taken by uid 65534 (nobody), process "},
     0,
     {},
     " (x\\x1b[2J\\rok fine): the backend"},
    {"UserInfoInServerIp",
     [](SetUpChoices& c) { c.settings["ServerIp"] = std::string("alice:s3cret@") + kPrintServer; },
     nullptr,
     {"warn ServerIp form: \"***@127.0.0.1:"},
     0},
    {"NoNotifier",
     [](SetUpChoices& c) { c.notifier = false; },
     nullptr,
     {"warn notifier: nothing listens on 127.0.0.1:10029"},
     0},
    {"DebugLogLevel",
     [](SetUpChoices& c) { c.logLevel = "debug"; },
     nullptr,
     {"warn CUPS log level: LogLevel debug in " VP_SANDBOX "/cups/cupsd.conf"},
     0},
};

void PrintTo(const BrokenCase& c, std::ostream* out) {
  *out << c.name;
}

class OneThingBroken : public CheckProgram, public testing::WithParamInterface<BrokenCase> {};

TEST_P(OneThingBroken, SaysWhatAndExitsAccordingly) {
  const BrokenCase& c = GetParam();
  SetUpChoices choices;
  if (c.before)
    c.before(choices);
  Start(choices);
  if (c.after)
    c.after(world_);

  CommandResult result = Check(c.arguments);
  std::vector<std::string> notOk = NotOk(result.output);
  ASSERT_EQ(notOk.size(), c.notOk.size()) << result.output;
  for (size_t i = 0; i < notOk.size(); ++i)
    EXPECT_TRUE(notOk[i].starts_with(c.notOk[i])) << notOk[i] << "\nexpected: " << c.notOk[i];
  EXPECT_EQ(result.status, c.exit) << result.output;
  EXPECT_NE(result.output.find(c.alsoSays), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find("s3cret"), std::string::npos) << "the password shows";
}

INSTANTIATE_TEST_SUITE_P(Cases, OneThingBroken, testing::ValuesIn(kBrokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CheckProgram, JsonSaysWhatTheTextSays) {
  SetUpChoices choices;
  choices.settingsMode = 0644;
  Start(choices);

  CommandResult text = Check({});
  CommandResult json = Check({"--json"});
  EXPECT_EQ(json.status, text.status);
  nlohmann::json report = nlohmann::json::parse(json.output);
  std::vector<std::string> fromText = Lines(text.output);
  ASSERT_EQ(fromText.size(), report["checks"].size() + 1) << text.output << json.output;
  for (size_t i = 0; i + 1 < fromText.size(); ++i) {
    const nlohmann::json& line = report["checks"][i];
    std::string status = line["status"];
    status.resize(5, ' ');
    EXPECT_TRUE(fromText[i].starts_with(status + line["name"].get<std::string>() + ": " +
                                        line["detail"].get<std::string>()))
        << fromText[i];
  }
  EXPECT_EQ(report["warnings"], 1);
  EXPECT_EQ(report["failed"], 0);
  EXPECT_EQ(report["exit"], 0);
}

// ---- --clean DAYS: what goes, what stays.

constexpr char kOld[] = "0f8e2a1c-3b4d-4e5f-8a9b-0c1d2e3f4a5b";     // a finished job, 40 days old
constexpr char kNew[] = "1a2b3c4d-5e6f-4a8b-9c0d-1e2f3a4b5c6d";     // yesterday's job
constexpr char kCut[] = "2b3c4d5e-6f7a-4b9c-8d1e-2f3a4b5c6d7e";     // a PDF wrap cut short
constexpr char kBusy[] = "3c4d5e6f-7a8b-4c0d-9e2f-3a4b5c6d7e8f";    // a job still running
constexpr char kLinked[] = "4d5e6f7a-8b9c-4d1e-8f3a-4b5c6d7e8f9a";  // a planted link
constexpr char kShort[] = "0a1b-OK";  // a UUID the backend takes though CUPS never gives one

class Clean : public CheckProgram, public testing::WithParamInterface<bool> {
 protected:
  std::string Plant(const std::string& name, size_t bytes, int daysOld) {
    std::string path = world_.logDir + name;
    EXPECT_TRUE(WriteFile(path, std::string(bytes, 'x')));
    timespec times[2] = {{std::time(nullptr) - daysOld * 86400L - 60, 0}, {}};
    times[1] = times[0];
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
  }
};

TEST_P(Clean, RemovesOnlyOldJobFilesOfFinishedJobs) {
  const bool dryRun = GetParam();
  Start(SetUpChoices{});
  const std::string dir = world_.logDir;
  // A lock on a job file, which any local user can take, keeps nothing.
  int foreign = open(Plant(std::string(kOld) + ".pdf", 1000, 40).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(foreign, LOCK_SH), 0);
  Plant(std::string(kOld) + ".ctl", 100, 40);
  Plant(std::string(kNew) + ".ps", 100, 1);
  Plant(std::string(kCut) + ".pdf.tmp", 400, 40);
  Plant(std::string(kShort) + ".ps", 200, 40);
  Plant(std::string(kBusy) + ".ctl", 100, 40);
  // A running backend holds its job's lock in the root-only folder.
  Plant(std::string(kBusy) + ".pdf", 100, 40);
  const std::string lockDir = std::string(VP_SANDBOX) + "/var/run/virtual-printer/";
  const JobFiles jobFiles(dir, lockDir);
  JobLock running = jobFiles.TakeLock(kBusy, 0);
  ASSERT_TRUE(running.held());
  ASSERT_TRUE(jobFiles.TakeLock(kOld, 0).held());  // an idle lock the clean removes
  std::string victim = world_.root + "/victim";
  ASSERT_TRUE(WriteFile(victim, "not a job file"));
  ASSERT_EQ(symlink(victim.c_str(), (dir + kLinked + ".pjl").c_str()), 0);
  for (const char* name : {"vlog.txt", "error_log", ".pdf", "report_1.pdf"})
    Plant(name, 10, 40);

  std::vector<std::string> arguments = {"--clean", "30"};
  if (dryRun)
    arguments.push_back("--dry-run");
  CommandResult result = Check(arguments);
  close(foreign);
  EXPECT_EQ(FileExists(lockDir + kOld + ".lock"), dryRun);
  EXPECT_TRUE(FileExists(lockDir + kBusy + ".lock"));

  const std::string verb = dryRun ? "would remove " : "removed ";
  std::vector<std::string> expected = {
      verb + dir + kShort + ".ps (200 B, 40 days old)",
      verb + dir + kOld + ".ctl (100 B, 40 days old)",
      verb + dir + kOld + ".pdf (1.0 kB, 40 days old)",
      verb + dir + kCut + ".pdf.tmp (400 B, 40 days old)",
      "kept " + dir + kBusy + ".ctl: in use by a running job",
      "kept " + dir + kBusy + ".pdf: in use by a running job",
      "skipped " + dir + kLinked + ".pjl: a symbolic link, not followed",
      dryRun ? "would remove 4 files older than 30 days from " + dir +
                   ", 1.7 kB would be freed (dry run: nothing was removed)"
             : "removed 4 files older than 30 days from " + dir + ", 1.7 kB freed"};
  EXPECT_EQ(Lines(result.output), expected);
  EXPECT_EQ(result.status, 0);
  for (const std::string& name : {std::string(kOld) + ".pdf", std::string(kOld) + ".ctl",
                                  std::string(kCut) + ".pdf.tmp", std::string(kShort) + ".ps"})
    EXPECT_EQ(FileExists(dir + name), dryRun) << name;
  for (const std::string& name :
       {std::string(kNew) + ".ps", std::string(kBusy) + ".pdf", std::string(kBusy) + ".ctl",
        std::string(kLinked) + ".pjl", std::string("vlog.txt"), std::string("error_log"),
        std::string(".pdf"), std::string("report_1.pdf")})
    EXPECT_TRUE(FileExists(dir + name)) << name;
  EXPECT_EQ(ReadFile(victim), "not a job file");
}

INSTANTIATE_TEST_SUITE_P(Modes, Clean, testing::Bool(),
                         [](const auto& info) { return info.param ? "DryRun" : "Removing"; });

TEST(CheckArguments, WrongOnesPrintTheUsageAndExit2) {
  for (std::vector<std::string> arguments :
       std::vector<std::vector<std::string>>{{"--clean"},
                                             {"--clean", "x"},
                                             {"--clean", "-1"},
                                             {"--clean", "30", "--json"},
                                             {"--dry-run"},
                                             {"--bogus"}}) {
    arguments.insert(arguments.begin(), kCheck);
    CommandResult result = RunCommand(arguments);
    EXPECT_EQ(result.status, 2) << arguments[1];
    EXPECT_TRUE(result.output.starts_with("usage: virtual-printer-check")) << result.output;
  }
}

}  // namespace

}  // namespace vp
