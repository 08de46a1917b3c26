// The backend program against the local print-management server and notifier over loopback: the
// job travels from standard input to the server, and the exit status tells the scheduler how.

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/e2e/backend_runner.h"
#include "tests/support/client_settings.h"
#include "tests/support/files.h"
#include "tests/support/print_server_process.h"
#include "tests/support/test_pdf.h"

namespace vp {

namespace {

constexpr char kUuid[] = "0b7e4c2a-9d13-4f6e-8a51-2c3d4e5f6a7b";
const std::string kPostScript = "%!PS-Adobe-3.0\n%%Pages: 2\n%RBINumCopies: 3\nshowpage\n";
const std::string kStatusOn = "virtual-printer:/?status=on";
const std::string kConnecting = "STATE: +connecting-to-device";
const std::string kConnectingInfo = "INFO: Connecting to the print server";
const std::string kConnected = "STATE: -connecting-to-device";
const std::string kMalformed =
    " cannot be reached: URL using bad/illegal format or missing URL. Check the server address and "
    "the network, then resume the printer";

struct Case {
  std::string name;
  std::string mode;                           // the server's behaviour
  std::string userName;                       // in the client settings
  std::string data;                           // on standard input
  int status;                                 // the backend's exit status
  size_t uploads;                             // jobs the server holds afterwards
  size_t notifications;                       // accepted notifier messages
  std::string deviceUri = "";                 // DEVICE_URI, when the scheduler names one
  std::vector<std::string> statusLines = {};  // told to the queue after spooling, progress aside
  std::string serverIp = "";                  // in the settings, when not the server's address
};

// The status lines after spooling, but for the upload's progress, whose count depends on timing.
std::vector<std::string> StatusAfterSpooling(const std::string& err) {
  const std::string spooled = "STATE: +cups-waiting-for-job-completed\n";
  size_t start = err.find(spooled);
  std::vector<std::string> lines;
  if (start == std::string::npos)
    return lines;
  for (const std::string& line : Lines(err.substr(start + spooled.size()))) {
    bool status = false;
    for (const char* prefix : {"STATE:", "INFO:", "ERROR:", "WARNING:", "PAGE:", "ATTR:"})
      status = status || line.starts_with(prefix);
    bool progress =
        line.starts_with("INFO: Sending the job") || line.starts_with("ATTR: job-media-progress");
    if (status && !progress)
      lines.push_back(line);
  }
  return lines;
}

// The case's name, in test names and failure reports, instead of its bytes.
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class Submission : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override { ResetSandbox(); }
};

TEST_P(Submission, ExitStatusUploadAndNotifierMessage) {
  const Case& c = GetParam();
  PrintServerProcess server;
  ASSERT_TRUE(server.start({"--user", "alice:pa ss&#+", "--mode", c.mode, "--notifier"}));
  WriteFile(SandboxDir() + "/private/var/spool/VirtualFile",
            ClientSettingsPlist({{"PassWord", "not-this-one"},
                                 {"PassWord2", "pa ss&#+"},
                                 {"ServerIp", c.serverIp.empty() ? server.address() : c.serverIp},
                                 {"UserName", c.userName}}));

  BackendCall call;
  call.args = {"11", "alice", "Minutes \"draft\"", "1",
               std::string("job-uuid=urn:uuid:") + kUuid + " PageSize=Letter"};
  call.env = CupsEnvironment("HP LaserJet", VP_BINARY_DIR "/tools/plutil:/usr/bin:/bin");
  if (!c.deviceUri.empty())
    call.env.push_back("DEVICE_URI=" + c.deviceUri);
  call.stdinData = c.data;
  BackendRun run = RunBackend(call);
  EXPECT_EQ(run.status, c.status) << run.out;
  EXPECT_EQ(StatusAfterSpooling(run.err), c.statusLines) << run.err;

  std::vector<std::string> jobs = StoredJobs(server.store());
  ASSERT_EQ(jobs.size(), c.uploads);
  std::vector<std::string> messages = Lines(ReadFile(server.store() + "/notifications.log"));
  ASSERT_EQ(messages.size(), c.notifications);
  if (c.notifications > 0) {
    EXPECT_EQ(messages[0],
              std::string("{\"content\":\"") + kUuid + "\",\"messageId\":\"UploadJob\"}");
  }
  if (c.uploads == 0)
    return;

  bool pdf = c.data.rfind("%PDF-", 0) == 0;
  std::string dataFile = std::string(kUuid) + (pdf ? ".pdf" : ".ps");
  std::string spooled = ReadFile(LogDir() + dataFile);
  EXPECT_EQ(ReadFile(jobs[0] + "/" + dataFile), spooled);
  if (pdf) {
    EXPECT_EQ(spooled,
              "\x1b%-12345X@PJL JOB NAME=Minutes \"draft\"\n@PJL SET QTY=1\n"
              "@PJL SET DUPLEX=OFF\n@PJL ENTER LANGUAGE=PDF\n" +
                  c.data + "\x1b%-12345X@PJL EOJ+\n%-12345X");
  } else {
    EXPECT_EQ(spooled, c.data);
  }
  nlohmann::json properties = nlohmann::json::parse(ReadFile(jobs[0] + "/printProperties"));
  EXPECT_EQ(properties["DocumentName"], "Minutes \"draft\"");
  EXPECT_EQ(properties["AllPage"], pdf ? "4" : "2");
  EXPECT_EQ(properties["CopyCount"], pdf ? "1" : "3");
  EXPECT_EQ(properties["Paper"], "ISOLetter");
  EXPECT_EQ(properties["DriverName"], "HP LaserJet");
  EXPECT_EQ(properties["DocumentLevel"], "\xE5\x85\xAC\xE5\xBC\x80");
}

INSTANTIATE_TEST_SUITE_P(
    Roads, Submission,
    testing::Values(Case{"PostScriptUploaded", "ok", "alice", kPostScript, 0, 1, 0},
                    Case{"PdfUploadedWrapped", "ok", "alice", MakePdf(4), 0, 1, 0},
                    Case{"LoginRefused", "refuse", "alice", kPostScript, 2, 0, 1},
                    Case{"EmptyUserName", "ok", "", kPostScript, 4, 0, 1},
                    Case{"HtmlPageWithBarcode", "html-barcode", "alice", kPostScript, 4, 0, 1},
                    Case{"NoQueryInTheDeviceUri", "ok", "alice", kPostScript, 0, 1, 0,
                         "virtual-printer:/"},
                    Case{"UploadedWithStatus",
                         "ok",
                         "alice",
                         kPostScript,
                         0,
                         1,
                         0,
                         kStatusOn,
                         {kConnecting, kConnectingInfo, kConnected, "PAGE: total 6"}},
                    Case{"RefusedWithStatus",
                         "refuse",
                         "alice",
                         kPostScript,
                         2,
                         0,
                         1,
                         kStatusOn,
                         {kConnecting, kConnectingInfo, kConnected,
                          "ERROR: The print server refused the login: log in with the client "
                          "application, then release the held job"}},
                    Case{"EmptyUserNameWithStatus",
                         "ok",
                         "",
                         kPostScript,
                         4,
                         0,
                         1,
                         kStatusOn,
                         {"ERROR: The client application's settings hold no print server "
                          "address, user name or password: sign in with the client application, "
                          "then resume the printer"}},
                    Case{"UnreadableAnswerWithStatus",
                         "html-barcode",
                         "alice",
                         kPostScript,
                         4,
                         0,
                         1,
                         kStatusOn,
                         {kConnecting, kConnectingInfo, kConnected,
                          "ERROR: The print server's answer to the login could not be read: check "
                          "the server address in the client application, then resume the "
                          "printer"}},
                    Case{"UploadAnswered500WithStatus",
                         "upload-error",
                         "alice",
                         kPostScript,
                         0,
                         0,
                         0,
                         kStatusOn,
                         {kConnecting, kConnectingInfo, kConnected,
                          "WARNING: The print server answered the upload with HTTP status 500: it "
                          "may not have stored the job"}},
                    // plutil prints strings unescaped: "\\n" in the settings reads as a line feed.
                    Case{"UserInfoAndLineFeedInServerIpWithStatus",
                         "ok",
                         "alice",
                         kPostScript,
                         4,
                         0,
                         1,
                         kStatusOn,
                         {kConnecting, kConnectingInfo, kConnected,
                          "ERROR: The print server at ***@127.0.0.1:1 STATE: +media-empty-error  "
                          "ATTR: marker-levels=0" +
                              kMalformed},
                         "alice:p@ssw0rd@127.0.0.1:1\\nSTATE: +media-empty-error\\r\\nATTR: "
                         "marker-levels=0"}),
    testing::PrintToStringParamName());

// ---- wait=0, or no wait at all: the backend of before, byte for byte. A wait on a reachable
// server changes nothing either.

struct JobRun {
  int status = -1;
  std::string err;
  std::vector<std::string> log;
};

// What may differ between two runs of the same job: libcurl's timings, the server's Date header,
// the upload's progress, the stamps of the job log, the number the server gives the upload and
// the DEVICE_URI in the log's environment lines.
std::string Steady(const std::string& err) {
  std::string text = std::regex_replace(err, std::regex(R"(after \d+ ms)"), "after N ms");
  text = std::regex_replace(text, std::regex(R"(< Date: [^\n]*\n)"), "< Date: D\n");
  text = std::regex_replace(
      text, std::regex(R"((INFO: Sending the job|ATTR: job-media-progress)[^\n]*\n)"), "");
  return text;
}

JobRun RunJob(const std::string& serverIp, const std::string& deviceUri) {
  ResetSandbox();
  WriteFile(SandboxDir() + "/private/var/spool/VirtualFile",
            ClientSettingsPlist(
                {{"PassWord2", "pa ss&#+"}, {"ServerIp", serverIp}, {"UserName", "alice"}}));
  BackendCall call;
  call.args = {"11", "alice", "Minutes", "1", std::string("job-uuid=urn:uuid:") + kUuid};
  call.env = CupsEnvironment("HP LaserJet", VP_BINARY_DIR "/tools/plutil:/usr/bin:/bin");
  call.env.push_back("DEVICE_URI=" + deviceUri);
  call.stdinData = kPostScript;
  BackendRun backend = RunBackend(call);
  JobRun run{backend.status, Steady(backend.err), {}};
  for (const std::string& line : Unstamped(ReadFile(LogDir() + "vlog.txt"))) {
    std::string steady =
        std::regex_replace(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )"), "T ");
    steady = std::regex_replace(steady, std::regex(R"("job":"job-\d+")"), R"("job":"job-N")");
    if (steady.find("DEVICE_URI=") == std::string::npos)
      run.log.push_back(steady);
  }
  return run;
}

TEST(NoWait, WaitZeroIsTheBackendWithoutTheOption) {
  PrintServerProcess server;
  ASSERT_TRUE(server.start({"--user", "alice:pa ss&#+", "--notifier"}));
  const std::string unreachable = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
  struct Case {
    std::string serverIp;
    std::string without;
    std::string with;
    int status;
  } cases[] = {
      {unreachable, "virtual-printer:/", "virtual-printer:/?wait=0", 4},
      {unreachable, kStatusOn, kStatusOn + "&wait=0", 4},
      {unreachable, kStatusOn, "virtual-printer:/?wait=0+status=on", 4},
      {server.address(), kStatusOn, kStatusOn + "&wait=0", 0},
      {server.address(), kStatusOn, kStatusOn + "&wait=60", 0},
      {server.address(), "virtual-printer:/", "virtual-printer:/?wait=86400", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.with + " against " + c.serverIp);
    JobRun without = RunJob(c.serverIp, c.without);
    JobRun with = RunJob(c.serverIp, c.with);
    EXPECT_EQ(without.status, c.status);
    EXPECT_EQ(with.status, c.status);
    EXPECT_EQ(with.err, without.err);
    EXPECT_EQ(with.log, without.log);
  }
}

}  // namespace

// What the scheduler's page_log gets: pages times copies once per job, and only when both are
// plausible; a queue without status keeps its one "PAGE: 1 1" for a print file.
TEST(PageAccounting, TotalOnlyWhenPlausibleAndOncePerJob) {
  const std::string noCopies = "%!PS-Adobe-3.0\n%%Pages: 2\nshowpage\n";
  const std::string most = "2147483647";
  struct Case {
    std::string name, data, copies;
    bool printFile, statusOn;
    std::vector<std::string> pageLines;
  } cases[] = {
      {"pages and copies from the job", kPostScript, "1", false, true, {"PAGE: total 6"}},
      {"copies from the command line", noCopies, "4", false, true, {"PAGE: total 8"}},
      {"command-line copies not a number", noCopies, "x", false, true, {"PAGE: total 2"}},
      {"more copies than CUPS allows",
       "%!PS\n%%Pages: " + most + "\n%RBINumCopies: " + most + "\n",
       "1",
       false,
       true,
       {}},
      {"no pages", "%!PS\n%%Pages: 0\n%RBINumCopies: 2\n", "1", false, true, {}},
      {"print file, counted once", kPostScript, "1", true, true, {"PAGE: total 6"}},
      {"print file, pages unknown", "%!PS\n", "1", true, true, {"PAGE: 1 1"}},
      {"print file without status", kPostScript, "1", true, false, {"PAGE: 1 1"}},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(server.start({"--user", "alice:pw", "--notifier"}));
    WriteFile(SandboxDir() + "/private/var/spool/VirtualFile",
              ClientSettingsPlist(
                  {{"PassWord2", "pw"}, {"ServerIp", server.address()}, {"UserName", "alice"}}));
    BackendCall call;
    call.args = {"12", "alice", "Pages", c.copies, std::string("job-uuid=urn:uuid:") + kUuid};
    call.env = CupsEnvironment("HP LaserJet", VP_BINARY_DIR "/tools/plutil:/usr/bin:/bin");
    if (c.statusOn)
      call.env.push_back("DEVICE_URI=" + kStatusOn);
    if (c.printFile) {
      call.args.push_back(SandboxDir() + "/print-file");
      WriteFile(call.args.back(), c.data);
    } else {
      call.stdinData = c.data;
    }
    BackendRun run = RunBackend(call);
    EXPECT_EQ(run.status, 0) << c.name;
    std::vector<std::string> pageLines;
    for (const std::string& line : Lines(run.err)) {
      if (line.starts_with("PAGE:"))
        pageLines.push_back(line);
    }
    EXPECT_EQ(pageLines, c.pageLines) << c.name;
  }
}

}  // namespace vp
