#include "submit/submission.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "tests/support/client_settings.h"
#include "tests/support/files.h"
#include "tests/support/print_server_process.h"
#include "tests/support/sample_job.h"
#include "util/paths.h"

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
bool writeSettings(const Settings& settings) {
  std::map<std::string, std::string> entries = {{"PassWord", "not-this-one"},
                                                {"PassWord2", settings.password},
                                                {"ServerIp", settings.serverIp},
                                                {"UserName", settings.userName}};
  std::erase_if(entries, [](const auto& entry) { return entry.second == kAbsent; });
  return WriteFile(paths::kSettingsFile, ClientSettingsPlist(entries));
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

class SubmitJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldPath_ = getenv("PATH");
    setenv("PATH", (std::string(VP_BINARY_DIR "/tools/plutil:") + oldPath_).c_str(), 1);
    fs::create_directories(fs::path(paths::kSettingsFile).parent_path());
    fs::create_directories(paths::kLogDir);
    dataFileName_ = std::string(kUuid) + "-" + std::to_string(getpid()) + ".ps";
    ASSERT_TRUE(WriteFile(dataPath(), "%!PS-Adobe-3.0\nshowpage\n"));
  }

  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    fs::remove(dataPath());
    fs::remove(paths::kSettingsFile);
  }

  std::string dataPath() const { return std::string(paths::kLogDir) + dataFileName_; }

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
    return SubmitJob(log_, SampleJob(), uuid, dataFileName_);
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
     .lines = {"Request failed. Error code: 7\n", "login failed\n"}},
    {.name = "user information in the server setting",
     .settings = {"alice:Xy9@pw@127.0.0.1:1", "alice", "pw"},
     .lines = {"ServerIp:\"***@127.0.0.1:1\"", "url:\nhttp://***@127.0.0.1:1/quoradex/",
               "login failed\n"},
     .absent = {"Xy9"}},
    {.name = "missing data file",
     .dataFile = false,
     .lines = {"login success\n", "uploadFileToQuoradexV2\n",
               "curl_easy_perform() failed: ", "end upload job result:0\n", "upload fail\n"},
     .notifications = 0,
     .absent = {"upload finished"}},
};

TEST_F(SubmitJobTest, EveryWayALoginOrUploadEnds) {
  for (const Outcome& o : kOutcomes) {
    SCOPED_TRACE(o.name);
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
    EXPECT_EQ(SubmitJob(log, SampleJob(), kUuid, dataFileName_), o.status);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(8));
    expectLinesInOrder(log.str(), o.lines);
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
    EXPECT_EQ(SubmitJob(log, SampleJob(), kUuid, dataFileName_), c.status) << c.mode;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3)) << c.mode;
    EXPECT_EQ(log.str().find(" notify res::1\n") != std::string::npos, c.noted) << log.str();
  }
}

}  // namespace
