// The backend program end to end, in the sandbox: command line, job log, spooling, control file.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/e2e/backend_runner.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr char kUuid[] = "1f2e3d4c-0000-4000-8000-00000000abcd";

std::string UuidOption(const std::string& uuid = kUuid) {
  return "job-uuid=urn:uuid:" + uuid;
}

BackendCall StdinJob(const std::string& data, const std::string& options = UuidOption()) {
  BackendCall call;
  call.args = {"42", "alice", "Report", "1", options};
  call.env = CupsEnvironment("Generic PostScript");
  call.stdinData = data;
  return call;
}

BackendCall FileJob(const std::string& data, const std::string& options = UuidOption()) {
  std::string path = SandboxDir() + "/print-file";
  WriteFile(path, data);
  BackendCall call = StdinJob("", options);
  call.args.push_back(path);
  return call;
}

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>((i * 7919 + i / 251) & 0xff);
  if (size > 0)
    data[0] = 'x';  // never a NUL first: a NUL is data, but let sniffing see a byte
  return data;
}

// Standard error up to and including the STATE line: what spooling tells the scheduler. (The
// login's libcurl trace follows it.)
std::string SpoolingStatus(const std::string& err) {
  const std::string state = "STATE: +cups-waiting-for-job-completed\n";
  size_t end = err.find(state);
  return end == std::string::npos ? err : err.substr(0, end + state.size());
}

// Compares without printing megabytes of binary data on failure.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected)
    return testing::AssertionSuccess();
  size_t at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
              actual.begin();
  return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                     << ", first difference at byte " << at;
}

const std::string kWrapTrailer = "\x1b%-12345X@PJL EOJ+\n%-12345X";

class Frame : public testing::Test {
 protected:
  void SetUp() override { ResetSandbox(); }
};

TEST_F(Frame, DiscoveryPrintsTheDeviceLineAndTouchesNothing) {
  BackendRun run = RunBackend({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "file virtual-printer:/ \"Unknown\"  \"Virtual Printer\" \"Virtual Printer\" \n");
  EXPECT_FALSE(FileExists(LogDir()));
}

TEST_F(Frame, WrongArgumentCountsPrintUsageAndTouchNothing) {
  for (int count : {2, 3, 4, 5, 8}) {
    BackendCall call;
    call.argv0 = "virtual-printer";
    for (int i = 1; i < count; ++i)
      call.args.push_back("a");
    BackendRun run = RunBackend(call);
    EXPECT_EQ(run.status, 1) << count;
    EXPECT_EQ(run.err, "Usage: virtual-printer job-id user title copies options [file]\n") << count;
    EXPECT_FALSE(FileExists(LogDir())) << count;
  }
}

TEST_F(Frame, MissingPrintFileFailsBeforeTheLogIsOpened) {
  BackendCall call = StdinJob("");
  call.args.push_back(SandboxDir() + "/no-such-file");
  BackendRun run = RunBackend(call);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ERROR:Unable to open print file: No such file or directory\n");
  EXPECT_FALSE(FileExists(LogDir()));
}

TEST_F(Frame, UncreatableLogDirectoryFailsWithTheLogPath) {
  fs::remove_all(SandboxDir() + "/var/log");
  WriteFile(SandboxDir() + "/var/log", "a file where the directory should be");
  BackendRun run = RunBackend(StdinJob("%!PS\n"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ERROR:" + LogDir() + "vlog.txt: Not a directory\n");
}

TEST_F(Frame, StartUpLinesAndEmptyStandardInput) {
  BackendCall call = StdinJob("", "a=1 " + UuidOption());
  call.args[3] = "abc";
  BackendRun run = RunBackend(call);
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[0], "Starting build version:2023-09-01-001");
  EXPECT_EQ(log[1], "Device:" + BackendPath());
  EXPECT_EQ(log[2], "JobID:42");
  EXPECT_EQ(log[3], "User:alice");
  EXPECT_EQ(log[4], "JobName:Report");
  EXPECT_EQ(log[5], "Copies:abc");
  EXPECT_EQ(log[6], "Options:a=1 " + UuidOption());
  EXPECT_EQ(log[7].rfind("Server:", 0), 0u);
  EXPECT_EQ(log.size(), 8u);
  EXPECT_FALSE(FileExists(LogDir() + kUuid + ".pjl"));
  EXPECT_EQ(run.err, "DEBUG: backendWaitLoop(snmp_fd=-1, addr=(nil), side_cb=(nil))\n");
}

TEST_F(Frame, PrintFileIsLoggedAndSentWithPageAndInfoLines) {
  BackendCall call = FileJob(Pattern(20000));
  BackendRun run = RunBackend(call);
  std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  EXPECT_EQ(log[8], "PrintDataFile:" + call.args[5]);
  std::string path = LogDir() + kUuid + ".pjl";
  EXPECT_EQ(log[9].rfind(path + ",device_fd:", 0), 0u);
  EXPECT_TRUE(SameBytes(ReadFile(path), Pattern(20000)));
  std::vector<std::string> err = Lines(SpoolingStatus(run.err));
  ASSERT_EQ(err.size(), 10u) << run.err;
  EXPECT_EQ(err[0], "PAGE: 1 1");
  EXPECT_EQ(err[1].rfind("DEBUG: backendRunLoop(print_fd=", 0), 0u);
  EXPECT_EQ(err[2], "DEBUG: Read 8192 bytes of print data...");
  EXPECT_EQ(err[3], "DEBUG: Wrote 8192 bytes of print data...");
  EXPECT_EQ(err[6], "DEBUG: Read 3616 bytes of print data...");
  EXPECT_EQ(err[7], "DEBUG: Wrote 3616 bytes of print data...");
  EXPECT_EQ(err[8], "INFO: Print file sent.");
  EXPECT_EQ(err[9], "STATE: +cups-waiting-for-job-completed");
}

// A copy that fails midway leaves a truncated data file: it stays for inspection, and the job ends
// with the failure status instead of uploading it.
TEST_F(Frame, FailedCopyIsNotSubmitted) {
  BackendCall call = FileJob("");
  call.args.back() = SandboxDir();  // opens, but reading a directory fails
  BackendRun run = RunBackend(call);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("ERROR: Unable to read print data."), std::string::npos) << run.err;
  std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  EXPECT_TRUE(Contains(log, "tbytes:-1"));
  EXPECT_EQ(log.back(), "print data incomplete, job not submitted");
  EXPECT_TRUE(FileExists(LogDir() + kUuid + ".pjl"));
  EXPECT_TRUE(FileExists(LogDir() + kUuid + ".ctl"));
}

TEST_F(Frame, StandardInputStatusLines) {
  BackendRun run = RunBackend(StdinJob("%!PS-Adobe-3.0\n"));
  std::string log = ReadFile(LogDir() + "vlog.txt");
  const std::string marker = ".ps,device_fd:";
  size_t at = log.find(marker);
  ASSERT_NE(at, std::string::npos);
  std::string device_fd = log.substr(at + marker.size(), log.find('\n', at) - at - marker.size());
  EXPECT_EQ(SpoolingStatus(run.err),
            "DEBUG: backendWaitLoop(snmp_fd=-1, addr=(nil), side_cb=(nil))\n"
            "DEBUG: backendRunLoop(print_fd=0, device_fd=" +
                device_fd +
                ", snmp_fd=-1, addr=(nil), use_bc=0, side_cb=(nil))\n"
                "STATE: +cups-waiting-for-job-completed\n");
}

TEST_F(Frame, TypeIsSniffedFromTheFirstKilobyteOfStandardInput) {
  const std::string uel = "\x1b%-12345X@PJL JOB\r\n";
  const std::string pjlHeader = uel + "@PJL SET RESOLUTION=600\n" + std::string(700, '\n');
  struct Case {
    std::string name, data, extension;
    std::string later = "";  // written after a pause: the first read returns only `data`
  } cases[] = {
      {"pdf", "%PDF-1.7\n" + Pattern(3000), ".pdf"},
      {"pjl header written alone", pjlHeader, ".ps", "%!PS-Adobe-3.0\n%%Pages: 1\n"},
      {"marker across the pause", std::string(1000, 'a') + "%PD", ".pdf", "F-1.4\n"},
      {"pdf just beyond the block after a pause", std::string(1020, 'a'), ".pjl", "%PDF-1.4\n"},
      {"short job written in two parts", uel, ".ps", "%!PS\n"},
      {"postscript", "%!PS-Adobe-3.0\n", ".ps"},
      {"pjl with postscript", uel + "@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n", ".ps"},
      {"pjl with both", uel + "%!PS\n%PDF-1.4\n", ".pdf"},
      {"plain pjl", uel + "@PJL EOJ\n", ".pjl"},
      {"pdf beyond 1024", std::string(1024, 'a') + "%PDF-1.4\n", ".pjl"},
      {"pdf straddling 1024", std::string(1021, 'a') + "%PDF-1.4\n", ".pjl"},
      {"pdf ending at 1024", std::string(1019, 'a') + "%PDF-", ".pdf"},
      {"pdf after a zero byte", std::string("ab\0c", 4) + "%PDF-1.4\n", ".pjl"},
      {"postscript after a zero byte", std::string("\0", 1) + "%!PS\n", ".pjl"},
      {"nothing", "hello", ".pjl"},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    BackendCall call = StdinJob(c.data);
    call.stdinLater = c.later;
    RunBackend(call);
    std::string spooled = ReadFile(LogDir() + kUuid + c.extension);
    const std::string whole = c.data + c.later;
    if (c.extension == ".pdf") {  // PDF data is then wrapped in PJL around the spooled bytes
      EXPECT_NE(spooled.find("@PJL ENTER LANGUAGE=PDF\n" + whole + kWrapTrailer), std::string::npos)
          << c.name;
    } else {
      EXPECT_TRUE(SameBytes(spooled, whole)) << c.name;
    }
  }
}

TEST_F(Frame, PrintFileIsNeverSniffed) {
  RunBackend(FileJob("%PDF-1.4\n"));
  EXPECT_EQ(ReadFile(LogDir() + kUuid + ".pjl"), "%PDF-1.4\n");
}

TEST_F(Frame, DataFileIsByteIdenticalForAnySize) {
  for (size_t size : {1, 1023, 1024, 1025, 8192, 8193, 3 * 1024 * 1024 + 17}) {
    std::string data = Pattern(size);
    ResetSandbox();
    RunBackend(StdinJob(data));
    EXPECT_TRUE(SameBytes(ReadFile(LogDir() + kUuid + ".pjl"), data)) << "stdin " << size;
    ResetSandbox();
    RunBackend(FileJob(data));
    EXPECT_TRUE(SameBytes(ReadFile(LogDir() + kUuid + ".pjl"), data)) << "file " << size;
  }
  ResetSandbox();
  BackendRun run = RunBackend(FileJob(""));
  EXPECT_EQ(ReadFile(LogDir() + kUuid + ".pjl"), "");
  EXPECT_NE(run.err.find("INFO: Print file sent.\n"), std::string::npos);
}

TEST_F(Frame, ExactlyOneKilobyteIsCopiedByTheFirstBlockAlone) {
  std::string data = Pattern(1024);
  BackendRun run = RunBackend(StdinJob(data));
  EXPECT_TRUE(SameBytes(ReadFile(LogDir() + kUuid + ".pjl"), data));
  EXPECT_EQ(run.err.find("DEBUG: Read"), std::string::npos) << run.err;
  EXPECT_TRUE(Contains(Unstamped(ReadFile(LogDir() + "vlog.txt")), "tbytes:0"));
}

TEST_F(Frame, DataFileNameComesFromASafeJobUuid) {
  struct Case {
    std::string options, fileName;
    bool rejected;
  } cases[] = {
      {UuidOption("ab-12"), "ab-12.ps", false},
      {"", ".ps", false},
      {"job-uuid=nocolon", ".ps", false},
      {"job-uuid=a:b:CD-9", "CD-9.ps", false},
      {"job-uuid=urn:uuid:../../etc/x", ".ps", true},
      {"job-uuid=urn:uuid:$(touch${IFS}pwned)", ".ps", true},
      {"job-uuid=urn:uuid:a.b", ".ps", true},
      {"job-uuid=urn:uuid:a;b", ".ps", true},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    RunBackend(StdinJob("%!PS\n", c.options));
    EXPECT_EQ(ReadFile(LogDir() + c.fileName), "%!PS\n") << c.options;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(LogDir()))
      names.push_back(entry.path().filename());
    EXPECT_EQ(names.size(), 3u) << c.options;  // vlog.txt, data file, control file
    std::string log = ReadFile(LogDir() + "vlog.txt");
    EXPECT_EQ(log.find("job-uuid ignored") != std::string::npos, c.rejected) << c.options;
  }
  EXPECT_FALSE(FileExists(SandboxDir() + "/etc"));
  EXPECT_FALSE(FileExists("pwned"));
}

TEST_F(Frame, PlantedSymlinksAreNeverFollowed) {
  std::string target = SandboxDir() + "/victim";
  struct Case {
    std::string planted;
    int status;
    std::string errorText;  // in the job log, or on stderr for the log itself
  } cases[] = {
      {"vlog.txt", 1, ""},
      {std::string(kUuid) + ".ps", 1, "Can't write print data file:"},
      // The job goes on without a summary, to a submission that finds no server here.
      {std::string(kUuid) + ".ctl", 4, "tbytes:"},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    fs::create_directories(LogDir());
    WriteFile(target, "precious");
    fs::create_symlink(target, LogDir() + c.planted);
    BackendRun run = RunBackend(StdinJob("%!PS\n"));
    EXPECT_EQ(run.status, c.status) << c.planted;
    EXPECT_EQ(ReadFile(target), "precious") << c.planted;
    if (c.planted == "vlog.txt") {
      EXPECT_EQ(run.err, "ERROR:" + LogDir() + "vlog.txt: Too many levels of symbolic links\n");
    } else {
      EXPECT_NE(ReadFile(LogDir() + "vlog.txt").find(c.errorText), std::string::npos) << c.planted;
    }
  }
}

TEST_F(Frame, ReusedDataFileNameKeepsNoStaleBytes) {
  RunBackend(StdinJob("%!PS\n" + std::string(50000, 'a'), ""));
  RunBackend(StdinJob("%!PS\nshort\n", ""));
  EXPECT_EQ(ReadFile(LogDir() + ".ps"), "%!PS\nshort\n");
}

TEST_F(Frame, EachRunStartsTheLogAfresh) {
  RunBackend(StdinJob("%!PS\n", UuidOption("first")));
  RunBackend(StdinJob("%!PS\n", UuidOption("second")));
  std::string log = ReadFile(LogDir() + "vlog.txt");
  EXPECT_EQ(log.find("first"), std::string::npos);
  EXPECT_NE(log.find("second"), std::string::npos);
}

TEST_F(Frame, FilesGetTheirModes) {
  RunBackend(StdinJob("%!PS\n"));
  auto mode = [](const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
  };
  EXPECT_EQ(mode(LogDir()), 0777u);
  EXPECT_EQ(mode(LogDir() + "vlog.txt"), 0666u);
  EXPECT_EQ(mode(LogDir() + kUuid + ".ps"), 0777u);
  EXPECT_EQ(mode(LogDir() + kUuid + ".ctl"), 0666u);
}

TEST_F(Frame, EnvironmentIsLoggedAndEntry28IsTheDriverModel) {
  struct Case {
    std::string name;
    std::vector<std::string> env;
    std::string model;                     // empty: no "model:" line
    std::vector<std::string> logged = {};  // the entries as logged, when not as given
  } cases[] = {
      {"29 entries", CupsEnvironment("HP LaserJet"), "HP LaserJet"},
      {"28 entries", CupsEnvironment(nullptr), ""},
      {"value with equals", CupsEnvironment("Value=More"), "Value=More"},
      {"no equals", CupsEnvironment(nullptr), ""},
      {"empty", {}, ""},
      {"ppd model name wins", CupsEnvironment("HP LaserJet"), "KONICA MINOLTA C300i"},
      {"ppd without model name", CupsEnvironment("HP LaserJet"), "HP LaserJet"},
      {"ppd missing", CupsEnvironment("HP LaserJet"), "HP LaserJet"},
      {"credentials of auth-info-required",
       {"AUTH_USERNAME=alice", "AUTH_PASSWORD=s3cret=x", "AUTH_DOMAIN=CORP", "AUTH_NEGOTIATE=YIIB",
        "AUTH_INFO_REQUIRED=username,password", "X_AUTH_PASSWORD=kept"},
       "",
       {"AUTH_USERNAME=***", "AUTH_PASSWORD=***", "AUTH_DOMAIN=***", "AUTH_NEGOTIATE=***",
        "AUTH_INFO_REQUIRED=username,password", "X_AUTH_PASSWORD=kept"}},
  };
  cases[2].env[28] = "NAME=Value=More";
  cases[3].env.insert(cases[3].env.begin() + 28, "NOEQUALS");
  cases[5].env.push_back("PPD=" + SandboxDir() + "/model.ppd");
  cases[6].env.push_back("PPD=" + SandboxDir() + "/no-model.ppd");
  cases[7].env.push_back("PPD=" + SandboxDir() + "/missing.ppd");
  for (const Case& c : cases) {
    ResetSandbox();
    WriteFile(SandboxDir() + "/model.ppd",
              "*PPD-Adobe: \"4.3\"\n*NickName: \"Nick\"\n*ModelName: \"KONICA MINOLTA C300i\"\n");
    WriteFile(SandboxDir() + "/no-model.ppd", "*PPD-Adobe: \"4.3\"\n*ModelNameX: \"no\"\n");
    BackendCall call = StdinJob("%!PS\n");
    call.env = c.env;
    RunBackend(call);
    std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
    auto start = std::find(log.begin(), log.end(), "parser ppd");
    ASSERT_NE(start, log.end()) << c.name;
    EXPECT_EQ(*(start - 1), "start write ctrl file") << c.name;
    const std::vector<std::string>& logged = c.logged.empty() ? c.env : c.logged;
    for (size_t i = 0; i < logged.size(); ++i) {
      EXPECT_EQ(start[1 + i], "envp[" + std::to_string(i) + "]:" + logged[i]) << c.name;
    }
    auto next = start + 1 + c.env.size();
    if (!c.model.empty()) {
      EXPECT_EQ(*next++, "model:" + c.model) << c.name;
    }
    EXPECT_EQ(*next, "begin write ctl") << c.name;
    EXPECT_FALSE(Contains(log, "model:unknown")) << c.name;
  }
}

}  // namespace

}  // namespace vp
