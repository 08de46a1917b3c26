#include "submit/submission.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "backend/run_end.h"
#include "tests/support/client_settings.h"
#include "tests/support/files.h"
#include "tests/support/print_server_process.h"
#include "tests/support/sample_job.h"
#include "tests/support/scratch_dir.h"
#include "util/job_files.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr char kUuid[] = "7d1c9e0a-3b5f-4e21-9a6c-0f8d2b4e6a13";
constexpr char kServer[] = "SERVER";      // stands for the running server's address in the settings
constexpr char kUnusedPort[] = "UNUSED";  // stands for a loopback address where nothing listens
constexpr char kAbsent[] = "ABSENT";      // the entry is left out of the settings

struct Settings {
  std::string serverIp = kServer;
  std::string userName = "alice";
  std::string password = "s3cret &+#";
};

// The client's settings file as the backend finds it, with a "PassWord" it must not use.
bool writeSettingsFile(const std::string& file, const Settings& settings) {
  std::map<std::string, std::string> entries = {{"PassWord", "not-this-one"},
                                                {"PassWord2", settings.password},
                                                {"ServerIp", settings.serverIp},
                                                {"UserName", settings.userName}};
  std::erase_if(entries, [](const auto& entry) { return entry.second == kAbsent; });
  return WriteFile(file, ClientSettingsPlist(entries));
}

// Each line must appear as a stamped message, in this order.
void expectLinesInOrder(const std::string& log, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    size_t found = log.find(" " + line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
    at = found + line.size();
  }
}

// The job's files and the settings in the test's own folder.
class SubmitJobTest : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    oldPath_ = getenv("PATH");
    setenv("PATH", (std::string(VP_BINARY_DIR "/tools/plutil:") + oldPath_).c_str(), 1);
    fs::create_directories(files().logDir());
    dataFileName_ = std::string(kUuid) + "-" + std::to_string(getpid()) + ".ps";
    ASSERT_TRUE(WriteFile(dataPath(), "%!PS-Adobe-3.0\nshowpage\n"));
  }

  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    ScratchDirTest::TearDown();
  }

  JobFiles files() const { return JobFiles(dir_ + "log/", dir_ + "run/"); }
  SettingsFiles settings() const {
    return {dir_ + "VirtualFile", dir_ + "VirtualFile.txt", "plutil"};
  }
  std::string dataPath() const { return files().Path(dataFileName_); }
  bool writeSettings(const Settings& entries) const {
    return writeSettingsFile(settings().file, entries);
  }
  // The submission as the backend's main ends it: the queue's last line, then the notifier.
  int submitJob(std::ostream& log, const std::string& uuid,
                const QueueStatus& status = QueueStatus{},
                std::chrono::seconds wait = std::chrono::seconds(0)) const {
    const JobInfo job = SampleJob();
    const Outcome sent = SubmitJob(log, files(), settings(), job, dataFileName_, status, wait);
    const int exitStatus = EndRun(status, sent, job);
    TellNotifier(log, sent, uuid);
    return exitStatus;
  }

  bool startServer(const std::string& mode, bool notifier = true) {
    std::vector<std::string> flags = {"--mode", mode, "--user", "alice:s3cret &+#"};
    if (notifier) {
      flags.push_back("--notifier");
    }
    return server_.start(flags);
  }

  int submit(Settings settings, const std::string& uuid = kUuid) {
    if (settings.serverIp == kServer) {
      settings.serverIp = server_.address();
    }
    EXPECT_TRUE(writeSettings(settings));
    return submitJob(log_, uuid);
  }

  std::vector<std::string> notifications() const {
    return Lines(ReadFile(server_.store() + "/notifications.log"));
  }

  std::string oldPath_;
  std::string dataFileName_;
  PrintServerProcess server_;
  std::ostringstream log_;
};

TEST_F(SubmitJobTest, AcceptedJobIsUploaded) {
  ASSERT_TRUE(startServer("ok"));
  EXPECT_EQ(submit({}), 0);
  expectLinesInOrder(
      log_.str(),
      {"start login get token", "url:\n", "Request successful. Response:\n", "login success\n",
       "start upload print job\n", "uploadFileToQuoradexV2\n", "upload finished\n"});
  // The server's raw answer is ended by a stamped line feed, then the result.
  std::regex answerEnd(R"(\}\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \n\n\S+ \S+ end upload job result:1\n)");
  EXPECT_TRUE(std::regex_search(log_.str(), answerEnd)) << log_.str();
  std::vector<std::string> jobs = StoredJobs(server_.store());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(ReadFile(jobs[0] + "/" + dataFileName_), ReadFile(dataPath()));
  EXPECT_TRUE(notifications().empty());
}

struct Outcome {
  const char* name;
  const char* mode = "ok";
  Settings settings = {};
  bool dataFile = true;
  int status = 4;
  std::vector<std::string> lines = {};
  size_t notifications = 1;
  std::vector<std::string> absent = {};
  bool reached = true;  // the server was reached, or nothing was sent: a wait changes nothing
};

const std::vector<std::string> kEmptySettingLines = {
    "username or password or serverip is empty!\n"};

const Outcome kOutcomes[] = {
    {.name = "refused login",
     .mode = "refuse",
     .status = 2,
     .lines = {"start login get token", "login failed begin notify need auth\n"}},
    {.name = "empty user name setting",
     .settings = {kServer, "", "pw"},
     .lines = kEmptySettingLines,
     .absent = {"start login get token"}},
    {.name = "empty password setting",
     .settings = {kServer, "alice", ""},
     .lines = kEmptySettingLines,
     .absent = {"start login get token"}},
    {.name = "empty server setting",
     .settings = {"", "alice", "pw"},
     .lines = kEmptySettingLines,
     .absent = {"start login get token"}},
    {.name = "no server setting: nothing leaves the machine",
     .settings = {kAbsent, "alice", "pw"},
     .lines = {"start login get token", "Request failed. Error code: 3\n", "login failed\n"}},
    {.name = "answer cut off inside the token",
     .mode = "cut-token",
     .lines = {"Request successful. Response:\n{\"code\":\"01\",\"token\":\"***\n",
               "Error occurred:[json.exception.parse_error.101]", "begin notify\n"},
     .absent = {"5ecret", "last read"}},
    {.name = "answer without code",
     .mode = "no-code",
     .lines = {"login failed\n"},
     .absent = {"Error occurred"}},
    {.name = "HTML error page",
     .mode = "html-barcode",
     .lines = {"Error occurred:[json.exception.parse_error.101]", "begin notify\n"},
     .absent = {"notify res:"}},
    {.name = "numeric code",
     .mode = "numeric-code",
     .lines = {"Error occurred:[json.exception.type_error.302]", "begin notify\n"},
     .absent = {"login failed"}},
    {.name = "no token",
     .mode = "no-token",
     .lines = {"login success\n", "Error occurred:[json.exception.out_of_range.403]",
               "begin notify\n"},
     .absent = {"start upload print job"}},
    {.name = "stalled server",
     .mode = "stall",
     .lines = {"Request failed. Error code: 28\n", "login failed\n"}},
    {.name = "nobody at the server address",
     .settings = {kUnusedPort, "alice", "pw"},
     .lines = {"Request failed. Error code: 7\n", "login failed\n"},
     .reached = false},
    {.name = "user information in the server setting",
     .settings = {"alice:Xy9@pw@127.0.0.1:1", "alice", "pw"},
     .lines = {"ServerIp:\"***@127.0.0.1:1\"", "url:\nhttp://***@127.0.0.1:1/quoradex/",
               "login failed\n"},
     .absent = {"Xy9"},
     .reached = false},
    {.name = "missing data file",
     .dataFile = false,
     .lines = {"login success\n", "uploadFileToQuoradexV2\n",
               "curl_easy_perform() failed: ", "end upload job result:0\n", "upload fail\n"},
     .notifications = 0,
     .absent = {"upload finished"}},
};

// With a wait too: only a server that cannot be reached is waited for, not one that refuses the
// login, answers what cannot be read, stalls or breaks off the upload.
std::vector<std::pair<Outcome, std::chrono::seconds>> Roads() {
  std::vector<std::pair<Outcome, std::chrono::seconds>> roads;
  for (const Outcome& o : kOutcomes) {
    roads.push_back({o, std::chrono::seconds(0)});
    if (o.reached)
      roads.push_back({o, std::chrono::seconds(60)});
  }
  return roads;
}

TEST_F(SubmitJobTest, EveryWayALoginOrUploadEnds) {
  for (const auto& [o, wait] : Roads()) {
    SCOPED_TRACE(std::string(o.name) + ", wait " + std::to_string(wait.count()) + " s");
    PrintServerProcess server;
    ASSERT_TRUE(server.start({"--mode", o.mode, "--user", "alice:s3cret &+#", "--notifier"}));
    Settings settings = o.settings;
    if (settings.serverIp == kServer) {
      settings.serverIp = server.address();
    } else if (settings.serverIp == kUnusedPort) {
      settings.serverIp = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    }
    if (!o.dataFile) {
      fs::remove(dataPath());
    }
    ASSERT_TRUE(writeSettings(settings));
    std::ostringstream log;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(submitJob(log, kUuid, QueueStatus{}, wait), o.status);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(8));
    expectLinesInOrder(log.str(), o.lines);
    EXPECT_EQ(log.str().find("server cannot be reached"), std::string::npos) << log.str();
    for (const std::string& absent : o.absent) {
      EXPECT_EQ(log.str().find(absent), std::string::npos) << absent << "\n" << log.str();
    }
    std::vector<std::string> received = Lines(ReadFile(server.store() + "/notifications.log"));
    EXPECT_EQ(received.size(), o.notifications);
    for (const std::string& message : received) {
      EXPECT_EQ(message, std::string(R"({"content":")") + kUuid + R"(","messageId":"UploadJob"})");
    }
    EXPECT_TRUE(Lines(ReadFile(server.store() + "/notifications-refused.log")).empty());
    EXPECT_TRUE(StoredJobs(server.store()).empty());
  }
}

TEST_F(SubmitJobTest, JobWithoutUuidIsNotifiedWithEmptyContent) {
  ASSERT_TRUE(startServer("refuse"));
  EXPECT_EQ(submit({}, ""), 2);
  std::vector<std::string> expected = {R"({"content":"","messageId":"UploadJob"})"};
  EXPECT_EQ(notifications(), expected);
}

TEST_F(SubmitJobTest, MissingNotifierIsNotedOnlyOnTheExceptionPath) {
  struct Case {
    const char* mode;
    int status;
    bool noted;
  };
  const Case cases[] = {{"numeric-code", 4, true}, {"refuse", 2, false}, {"no-code", 4, false}};
  for (const Case& c : cases) {
    PrintServerProcess server;
    ASSERT_TRUE(server.start({"--mode", c.mode}));
    Settings settings;
    settings.serverIp = server.address();
    ASSERT_TRUE(writeSettings(settings));
    std::ostringstream log;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(submitJob(log, kUuid), c.status) << c.mode;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3)) << c.mode;
    EXPECT_EQ(log.str().find(" notify res::1\n") != std::string::npos, c.noted) << log.str();
  }
}

// ---- Waiting for a server that cannot be reached (the device URI's wait=SECONDS).

TEST(WaitPauseTest, GrowsToItsMaximum) {
  std::vector<long> pauses;
  for (int failed = 1; failed <= 10; ++failed)
    pauses.push_back(WaitPause(failed).count());
  EXPECT_EQ(pauses, (std::vector<long>{1, 2, 3, 5, 8, 13, 21, 30, 30, 30}));
  EXPECT_EQ(WaitPause(100000), kMaxWaitPause);
}

TEST(WaitingMessageTest, NamesTheServerWithItsCredentialsMaskedAndTheNextTry) {
  auto now = std::chrono::system_clock::now();
  std::string message = WaitingMessage("https://bob:pw@print.example:8443/base",
                                       "Couldn't connect to server", std::chrono::seconds(8),
                                       now + std::chrono::seconds(8), now + std::chrono::hours(24));
  std::regex expected(
      R"(The print server at https://\*\*\*@print\.example:8443/base cannot be reached: Couldn't )"
      R"(connect to server\. Next try in 8 s, at \d\d:\d\d:\d\d; the job waits for the )"
      R"(server until \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(message, expected)) << message;
}

// The lines a run wrote for the queue (not libcurl's trace).
std::vector<std::string> StatusLines(const std::string& err) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(err)) {
    if (line.starts_with("STATE:") || line.starts_with("INFO:") || line.starts_with("ERROR:"))
      lines.push_back(line);
  }
  return lines;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class WaitTest : public SubmitJobTest {
 protected:
  void SetUp() override {
    SubmitJobTest::SetUp();
    // Tells of any notifier message; a server that comes up later does not play the notifier.
    ASSERT_TRUE(notifier_.start({"--notifier"}));
    port_ = UnusedLoopbackPort();
    unreachable_.serverIp = "127.0.0.1:" + std::to_string(port_);
  }

  size_t notified() const {
    return Lines(ReadFile(notifier_.store() + "/notifications.log")).size();
  }

  // Runs the submission with the queue's status on; its status lines land in `err`.
  int submitWithStatus(std::ostringstream& log, std::chrono::seconds wait, std::string& err) {
    QueueStatus on;
    on.on = true;
    testing::internal::CaptureStderr();
    int status = submitJob(log, kUuid, on, wait);
    err = testing::internal::GetCapturedStderr();
    return status;
  }

  PrintServerProcess notifier_;
  int port_ = -1;
  Settings unreachable_;
};

// Each try reads the settings, logs in and, with the server out of reach, says when it tries again.
void ExpectWaitingTries(const std::vector<std::string>& lines, size_t tries) {
  size_t waits = 0;
  for (const std::string& line : lines)
    waits += line.starts_with("server cannot be reached, next try in ") ? 1 : 0;
  EXPECT_EQ(waits, tries);
}

TEST_F(WaitTest, RunningOutEndsAsWithoutAWait) {
  ASSERT_TRUE(writeSettings(unreachable_));
  std::ostringstream withoutLog, withLog;
  std::string withoutErr, withErr;
  EXPECT_EQ(submitWithStatus(withoutLog, std::chrono::seconds(0), withoutErr), 4);
  EXPECT_EQ(notified(), 1u);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(submitWithStatus(withLog, std::chrono::seconds(2), withErr), 4);
  double took = SecondsSince(begin);
  std::printf("a wait of 2 s for a server that stays away: %.2f s\n", took);
  EXPECT_GE(took, 2.0);
  EXPECT_LT(took, 3.5);
  EXPECT_EQ(notified(), 2u) << "the notifier is told once, when the wait ends";

  // Tries at 0, 1 and 2 s, the last at the end of the wait; it ends with the lines of today's.
  std::vector<std::string> without = Unstamped(withoutLog.str());
  std::vector<std::string> with = Unstamped(withLog.str());
  ASSERT_GT(with.size(), without.size());
  EXPECT_EQ(std::vector<std::string>(with.end() - without.size(), with.end()), without)
      << withLog.str();
  ExpectWaitingTries(with, 2);
  std::vector<std::string> tries(with.begin(), with.end() - without.size());
  EXPECT_EQ(tries.size(), 2 * without.size()) << "each try's lines, then when the next comes";
  EXPECT_EQ(Lines(withErr).back(), Lines(withoutErr).back());

  // The queue: connecting while it waits, with the server and the next try; then today's lines.
  std::vector<std::string> statusWithout = StatusLines(withoutErr);
  std::vector<std::string> statusWith = StatusLines(withErr);
  ASSERT_EQ(statusWith.size(), statusWithout.size() + 8) << withErr;
  EXPECT_EQ(std::vector<std::string>(statusWith.end() - statusWithout.size(), statusWith.end()),
            statusWithout);
  const std::string waiting = "INFO: The print server at " + unreachable_.serverIp +
                              " cannot be reached: Couldn't connect to server. Next try in ";
  for (size_t i = 0; i < 8; i += 4) {
    EXPECT_EQ(statusWith[i], "STATE: +connecting-to-device");
    EXPECT_EQ(statusWith[i + 1], "INFO: Connecting to the print server");
    EXPECT_EQ(statusWith[i + 2], "STATE: +connecting-to-device");
    EXPECT_TRUE(statusWith[i + 3].starts_with(waiting)) << statusWith[i + 3];
  }
  EXPECT_TRUE(statusWith[3].starts_with(waiting + "1 s, at ")) << statusWith[3];
  EXPECT_TRUE(FileExists(dataPath())) << "the job's data stays";
}

TEST_F(WaitTest, ServerThatComesUpGetsTheJobOnce) {
  ASSERT_TRUE(writeSettings(unreachable_));
  std::ostringstream log;
  std::string err;
  int status = -1;
  auto begin = std::chrono::steady_clock::now();
  double took = 0;
  std::thread job([&] {
    status = submitWithStatus(log, std::chrono::seconds(60), err);
    took = SecondsSince(begin);
  });
  // Started from this thread: the server dies with the thread that started it.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  PrintServerProcess late;
  EXPECT_TRUE(late.start({"--port", std::to_string(port_), "--user", "alice:s3cret &+#"}));
  job.join();
  EXPECT_EQ(status, 0) << log.str();
  std::printf("server up after 1.5 s: uploaded after %.2f s\n", took);
  EXPECT_LT(took, 5.0) << "tries at 0, 1 and 3 s";
  ExpectWaitingTries(Unstamped(log.str()), 2);
  expectLinesInOrder(
      log.str(),
      {"Request failed. Error code: 7\n", "server cannot be reached, next try in 1 s\n",
       "server cannot be reached, next try in 2 s\n", "login success\n", "upload finished\n"});
  ASSERT_EQ(StoredJobs(late.store()).size(), 1u);
  EXPECT_EQ(notified(), 0u);
  std::vector<std::string> status_lines = StatusLines(err);
  EXPECT_EQ(std::count(status_lines.begin(), status_lines.end(), "STATE: -connecting-to-device"), 1)
      << err;
}

TEST_F(WaitTest, EachTryReadsTheSettingsAfresh) {
  PrintServerProcess server;
  ASSERT_TRUE(server.start({"--user", "alice:s3cret &+#"}));
  // The old address, and a password the server would refuse.
  Settings old = unreachable_;
  old.password = "expired";
  ASSERT_TRUE(writeSettings(old));
  std::thread signsIn([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    Settings fresh;
    fresh.serverIp = server.address();
    EXPECT_TRUE(writeSettings(fresh));
  });
  std::ostringstream log;
  EXPECT_EQ(submitJob(log, kUuid, QueueStatus{}, std::chrono::seconds(60)), 0) << log.str();
  signsIn.join();
  ExpectWaitingTries(Unstamped(log.str()), 2);
  EXPECT_EQ(StoredJobs(server.store()).size(), 1u);
  EXPECT_EQ(notified(), 0u);
}

}  // namespace

}  // namespace vp
