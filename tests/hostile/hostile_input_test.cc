// The backend program fed what a hostile user, driver, settings file or server can hand it. Each
// case runs the real program in the sandbox against the local print server and states the outcome
// it must reach: the exit status, where files land, what the server holds, what the log tells.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/hostile/hostile_support.h"
#include "tests/support/print_server_process.h"
#include "tests/support/test_pdf.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr char kUuid[] = "5e1f0c2a-7b3d-4e6f-9a81-0c2d3e4f5a6b";
const std::string kPostScript = "%!PS-Adobe-3.0\n%%Pages: 2\n%RBINumCopies: 1\nshowpage\n";
const std::string kTrailer = "\x1b%-12345X@PJL EOJ+\n%-12345X";

class HostileInput : public testing::Test {
 protected:
  void SetUp() override { ResetSandbox(); }
};

std::set<std::string> LogDirEntries() {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(LogDir()))
    names.insert(entry.path().filename());
  return names;
}

nlohmann::json StoredProperties(const std::string& job) {
  return nlohmann::json::parse(ReadFile(job + "/printProperties"), nullptr, false);
}

TEST_F(HostileInput, JobUuidThatCannotNameAFileGivesTheUnnamedDataFile) {
  struct Case {
    std::string options, fileName;
  } cases[] = {
      {UuidOption("0a1b-OK"), "0a1b-OK.ps"},
      {UuidOption("../../../../tmp/vp-escape"), ".ps"},
      {UuidOption("$(touch${IFS}pwned)"), ".ps"},
      {UuidOption("`touch pwned`"), ".ps"},
      {UuidOption(" 0a1b"), ".ps"},  // the blank ends the option: the UUID is empty
      {UuidOption("\t"), ".ps"},
      {UuidOption("a/b"), ".ps"},
      {UuidOption(".."), ".ps"},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    BackendRun run = RunBackend(StdinJob("Report", c.options, kPostScript));
    EXPECT_EQ(run.status, 0) << c.options;
    std::string stem = c.fileName.substr(0, c.fileName.size() - 3);
    EXPECT_EQ(LogDirEntries(), (std::set<std::string>{"vlog.txt", c.fileName, stem + ".ctl"}))
        << c.options;
    std::string job = StoredJobWithFile(server.store(), c.fileName);
    ASSERT_FALSE(job.empty()) << c.options;
    EXPECT_TRUE(FileHolds(job + "/" + c.fileName, kPostScript)) << c.options;
    EXPECT_EQ(Notifications(server.store()), 0u) << c.options;
  }
  EXPECT_FALSE(FileExists("/tmp/vp-escape.ps"));
  EXPECT_FALSE(FileExists("pwned"));
  EXPECT_FALSE(FileExists(LogDir() + "pwned"));
}

// The log directory and the settings folder may be writable by every local user. Whatever such a
// user puts in place of a file the backend writes (a symbolic link, a hard link, a FIFO) must
// neither be written through nor hold the job.
struct Plant {
  const char* name;
  void (*make)(const std::string& victim, const std::string& at);
};

const Plant kPlants[] = {
    {"symbolic link",
     [](const std::string& victim, const std::string& at) { fs::create_symlink(victim, at); }},
    {"hard link",
     [](const std::string& victim, const std::string& at) { fs::create_hard_link(victim, at); }},
    {"FIFO", [](const std::string&, const std::string& at) { mkfifo(at.c_str(), 0666); }},
};

TEST_F(HostileInput, PlantedLinksAndPipesAreNeverWrittenThroughNorWaitedOn) {
  struct Case {
    std::string path;  // under the sandbox
    bool pdf;
    int status;
  } cases[] = {
      {"var/log/cups/vlog.txt", false, 1},
      {"var/log/cups/" + std::string(kUuid) + ".ps", false, 1},
      // Without a control file the job goes on, unsummarised, to the server.
      {"var/log/cups/" + std::string(kUuid) + ".ctl", false, 0},
      // Without its temporary file the PDF cannot be wrapped: it is not sent, and stays as spooled.
      {"var/log/cups/" + std::string(kUuid) + ".pdf.tmp", true, 1},
      {"private/var/spool/VirtualFile.txt", false, 0},
  };
  const std::string victim = SandboxDir() + "/victim";
  const std::string pdf = MakePdf(1);
  for (const Plant& plant : kPlants) {
    for (const Case& c : cases) {
      std::string name = c.path + " planted as " + plant.name;
      ResetSandbox();
      fs::create_directories(LogDir());
      WriteFile(victim, "precious");
      plant.make(victim, SandboxDir() + "/" + c.path);
      PrintServerProcess server;
      ASSERT_TRUE(StartPrintServer(server));
      BackendCall call = StdinJob("Report", UuidOption(kUuid), c.pdf ? pdf : kPostScript);
      call.timeoutSeconds = 30;
      BackendRun run = RunBackend(call);
      EXPECT_EQ(run.status, c.status) << name;
      EXPECT_EQ(ReadFile(victim), "precious") << name;
      EXPECT_EQ(StoredJobs(server.store()).size(), c.status == 0 ? 1u : 0u) << name;
      if (c.pdf) {
        EXPECT_TRUE(FileHolds(LogDir() + kUuid + ".pdf", pdf)) << name;
      }
    }
  }
}

// A big job from standard input, given the time it needs; `peak` is the backend's peak memory.
BackendRun RunWatched(const std::string& title, const std::string& data, long& peak) {
  BackendCall call = StdinJob(title, UuidOption(kUuid), data);
  call.timeoutSeconds = 240;
  BackendPeakWatcher watcher;
  BackendRun run = RunBackend(call);
  peak = watcher.megabytes();
  return run;
}

// A driver may send megabytes without a line feed. Without a marker in it the scan keeps memory
// small; a marker at its start makes the value as long as the line, and the job still goes through.
TEST_F(HostileInput, TwoHundredMegabyteLineWithoutNewline) {
  constexpr size_t kLine = size_t{200} << 20;
  struct Case {
    std::string name;
    std::string data;
    std::string pages;
    long peakBound;  // megabytes
  } cases[] = {
      {"no marker", "%!PS\n" + std::string(kLine, 'x'), "", 150},
      // The value is the rest of the line: it is held whole, in a buffer of twice its size.
      {"count marker before it", "%!PS\n%%Pages: " + std::string(kLine, '0') + "7", "7", 1500},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    auto start = std::chrono::steady_clock::now();
    long peak = 0;
    BackendRun run = RunWatched("Long line", c.data, peak);
    std::cout << c.name << ": job took " << SecondsSince(start) << " s, backend peak " << peak
              << " MB\n";
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_LT(peak, c.peakBound) << c.name;
    std::string job = StoredJobWithFile(server.store(), std::string(kUuid) + ".ps");
    ASSERT_FALSE(job.empty()) << c.name;
    EXPECT_TRUE(FileHolds(job + "/" + kUuid + ".ps", c.data)) << c.name;
    EXPECT_EQ(StoredProperties(job)["AllPage"], c.pages) << c.name;
  }
}

std::string Repeated(const std::string& piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i)
    text += piece;
  return text;
}

// Page languages at their most costly: a page every two bytes, and lengths that run past the end.
// The job goes through in the reader's constant memory, every page counted (a raster row cut off
// by the end of the data still marks a last page).
TEST_F(HostileInput, PageLanguagesOfAPageEveryTwoBytes) {
  constexpr size_t kPages = size_t{50} << 20;
  const std::string xl = "\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;0\n";
  struct Case {
    std::string name;
    std::string data;
    std::string pages;
  } cases[] = {
      {"PCL XL BeginPage and EndPage", xl + Repeated("\x43\x44", kPages) + "\xfa\xff\xff\xff\xff",
       std::to_string(kPages)},
      {"PCL 5 text and form feeds",
       "\x1b"
       "E" +
           Repeated("x\f", kPages) + "\x1b*b999999999W",
       std::to_string(kPages + 1)},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    long peak = 0;
    BackendRun run = RunWatched("Pages", c.data, peak);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_LT(peak, 150) << c.name;
    std::string job = StoredJobWithFile(server.store(), std::string(kUuid) + ".pjl");
    ASSERT_FALSE(job.empty()) << c.name;
    EXPECT_EQ(StoredProperties(job)["AllPage"], c.pages) << c.name;
    EXPECT_EQ(StoredProperties(job)["CopyCount"], "1") << c.name;
  }
}

std::string NumberedLines(const std::string& before, const std::string& after, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i)
    text += before + std::to_string(i) + after;
  return text;
}

constexpr char kPpdHead[] = "*PPD-Adobe: \"4.3\"\n*ModelName: \"Hostile PS\"\n";

// Job data and PPDs built to make the readers of a job's features and of the queue's PPD take
// memory with the square of their size, time worse than linear, or wait for ever. Each job still
// goes through, within a bound far above what a normal job takes (a few MB, well under a second).
TEST_F(HostileInput, FeatureScanAndPpdReaderStayBounded) {
  const std::string job = "%!PS-Adobe-3.0\n%%BeginFeature: *Duplex DuplexTumble\n%%Page: 1 1\n";
  struct Case {
    std::string name;
    std::string data;
    std::string ppd;     // written as the queue's PPD; "FIFO" or a path of the system as they say
    long peakMegabytes;  // bound of the backend's resident size
    double seconds;      // bound of the whole job
    std::string duplex;  // what the job is reported as
    std::string extension = ".ps";
  } cases[] = {
      {"PJL header that never ends",
       "\x1b%-12345X" + Repeated("@PJL SET DUPLEX=ON\n", size_t{50} << 20 >> 4), "", 250, 60,
       "TwoSided", ".pjl"},
      {"640k distinct features",
       "%!PS-Adobe-3.0\n" + NumberedLines("%%BeginFeature: *Opt", " X\n", 640000), "", 250, 60,
       "OneSided"},
      {"duplex code whose string never closes", job,
       std::string(kPpdHead) + "*OpenUI *Duplex: PickOne\n*Duplex DuplexTumble: \"" +
           Repeated("/Duplex(", 400000 / 8) + "\"\n",
       250, 60, "TwoSided"},
      {"PJL code without a line feed", job,
       std::string(kPpdHead) + "*OpenUI *Duplex: PickOne\n*Duplex DuplexTumble: \"" +
           Repeated("@PJL", 200000) + " SET DUPLEX=ON\"\n",
       250, 60, "TwoSided"},
      {"200k choices of one option", job,
       std::string(kPpdHead) + "*OpenUI *Duplex: PickOne\n" +
           "*Duplex DuplexTumble: \"<</Duplex true /Tumble true>>setpagedevice\"\n" +
           NumberedLines("*Duplex C", ": \"<</Duplex false>>\"\n", 200000),
       250, 60, "TwoSided"},
      {"quote never closed", job,
       std::string(kPpdHead) +
           "*OpenUI *Duplex: PickOne\n*Duplex DuplexTumble: \"<</Duplex true>>\n" +
           Repeated("setpagedevice\n", 300000),
       250, 60, "TwoSided"},
      {"'<' without '>'", job,
       std::string(kPpdHead) +
           "*OpenUI *Duplex: PickOne\n*Duplex DuplexTumble: \"<</Duplex true>>" +
           std::string(1 << 20, '<') + "\"\n",
       250, 60, "TwoSided"},
      {"PPD that is a FIFO", job, "FIFO", 250, 30, "TwoSided"},
      {"PPD that is /dev/zero", job, "/dev/zero", 250, 30, "TwoSided"},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    BackendCall call = StdinJob("Bounded", UuidOption(kUuid), c.data);
    std::string ppd = SandboxDir() + "/queue.ppd";
    std::filesystem::remove(ppd);
    if (c.ppd == "FIFO")
      ASSERT_EQ(mkfifo(ppd.c_str(), 0600), 0);
    else if (c.ppd.starts_with("/"))
      ppd = c.ppd;
    else
      WriteFile(ppd, c.ppd.empty() ? std::string(kPpdHead) : c.ppd);
    call.env.push_back("PPD=" + ppd);
    call.timeoutSeconds = 240;
    auto start = std::chrono::steady_clock::now();
    BackendRun run;
    long peak = 0;
    {
      BackendPeakWatcher watcher;
      run = RunBackend(call);
      peak = watcher.megabytes();
    }
    const double took = SecondsSince(start);
    std::cout << c.name << ": job took " << took << " s, backend peak " << peak << " MB\n";
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_LT(peak, c.peakMegabytes) << c.name;
    EXPECT_LT(took, c.seconds) << c.name;
    std::string stored = StoredJobWithFile(server.store(), kUuid + c.extension);
    ASSERT_FALSE(stored.empty()) << c.name;
    EXPECT_EQ(StoredProperties(stored)["Duplexing"], c.duplex) << c.name;
  }
}

TEST_F(HostileInput, NulBytesInTheDataAreDataLikeAnyOther) {
  using namespace std::string_literals;
  struct Case {
    std::string name, data, fileName, pages;
  } cases[] = {
      // Type sniffing stops at the first NUL of the first block.
      {"NUL before the PDF marker", "\0%PDF-1.7\n"s + MakePdf(1), ".pjl", ""},
      {"NUL in marker lines", "%!PS\n%%Pages: 2\0\n\0\0%%Pages: 3\n\0"s, ".ps", "3"},
      {"nothing but NUL", std::string(70000, '\0'), ".pjl", ""},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    BackendRun run = RunBackend(StdinJob("Nul", UuidOption(kUuid), c.data));
    EXPECT_EQ(run.status, 0) << c.name;
    std::string fileName = kUuid + c.fileName;
    EXPECT_TRUE(FileHolds(LogDir() + fileName, c.data)) << c.name;
    std::string job = StoredJobWithFile(server.store(), fileName);
    ASSERT_FALSE(job.empty()) << c.name;
    EXPECT_TRUE(FileHolds(job + "/" + fileName, c.data)) << c.name;
    EXPECT_EQ(StoredProperties(job)["AllPage"], c.pages) << c.name;
  }
}

// A title and options as a user may type them: line feeds, quotes of both kinds, backslashes, a
// PJL command of its own, and as many options as one argument can carry.
TEST_F(HostileInput, TitleAndOptionsWithNewlinesQuotesAndTenThousandTokens) {
  const std::string title =
      "Q3 \"final\"\nsecond line 'quoted' \\ back\ttab\r\n@PJL SET QTY=50\x1b%-12345X";
  const std::string oneLine =
      "Q3 \"final\" second line 'quoted' \\ back tab  @PJL SET QTY=50 %-12345X";
  std::string options = UuidOption(kUuid);
  for (int i = 0; i < 10000; ++i)
    options += " o" + std::to_string(i) + (i % 3 == 0 ? "=\"v\n'" : "=v");
  options += " PageSize=Legal NupOrient=Land\"scape\n";
  ASSERT_LT(options.size(), 128u * 1024);  // the most one argument may hold
  PrintServerProcess server;
  ASSERT_TRUE(StartPrintServer(server));
  std::string pdf = MakePdf(2);
  BackendRun run = RunBackend(StdinJob(title, options, pdf));
  EXPECT_EQ(run.status, 0);

  std::string job = StoredJobWithFile(server.store(), std::string(kUuid) + ".pdf");
  ASSERT_FALSE(job.empty());
  nlohmann::json properties = StoredProperties(job);
  EXPECT_EQ(properties["DocumentName"], title);
  EXPECT_EQ(properties["Paper"], "ISOLe");
  EXPECT_EQ(properties["PageOrientation"], "Land\"scape\n");
  EXPECT_EQ(properties["AllPage"], "2");
  // The server and the job log get the title as typed; the envelope and the control file, whose
  // lines are commands and fields, get it on one line.
  EXPECT_TRUE(FileHolds(job + "/" + kUuid + ".pdf",
                        "\x1b%-12345X@PJL JOB NAME=" + oneLine +
                            "\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n@PJL ENTER LANGUAGE=PDF\n" +
                            pdf + kTrailer));
  std::string control = ReadFile(LogDir() + kUuid + ".ctl");
  EXPECT_NE(control.find("\nDocumentName:" + oneLine + "\nAllPage:2\n"), std::string::npos);
  EXPECT_NE(control.find("\nPageOrientation:Land\"scape \nDriverName:"), std::string::npos);
  EXPECT_EQ(Lines(control).size(), 9u) << control;
  EXPECT_TRUE(LogHas("DocumentName:" + title.substr(0, title.find('\n'))));
  EXPECT_TRUE(LogHas("Options:" + options.substr(0, options.find('\n'))));
}

std::string Plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body +
         "</plist>\n";
}

std::string String(const std::string& key, const std::string& value) {
  return "<key>" + key + "</key><string>" + value + "</string>";
}

// The settings of the test user, one entry changed; "ADDR" stands for the server's address.
std::string Settings(const std::string& password, const std::string& serverIp,
                     const std::string& userNameEntry) {
  return Plist("<dict><key>quoradex</key><dict>" + String("PassWord2", password) + serverIp +
               userNameEntry + "</dict></dict>");
}

// Every way the settings can fail: the job ends with the status of its login (4 when it could
// not log in, 2 when the server refused it), the notifier is told once, and no part of the
// password ever reaches the job log, which every local user can read.
TEST_F(HostileInput, MalformedSettingsEndTheJobWithoutLeakingThePassword) {
  const std::string ip = String("ServerIp", "ADDR");
  const std::string user = String("UserName", kUser);
  struct Case {
    std::string name;
    std::string plist;  // empty: no settings file; "-": not even its folder
    int status;
    std::string logged;
  } cases[] = {
      {"no settings file", "", 4, "Caught exception: "},
      {"no settings folder", "-", 4, "Could not open the file!"},
      {"not a property list", "not a plist <", 4, "Caught exception: "},
      {"no quoradex entry", Plist("<dict>" + String("ServerIp", "ADDR") + "</dict>"), 4,
       "JSON object does not contain 'quoradex'"},
      {"quoradex a string", Plist("<dict>" + String("quoradex", "ADDR") + "</dict>"), 4,
       "Contains quoradex"},
      // plutil numbers array items ("0 => ..."), which no conversion turns into JSON.
      {"quoradex an array",
       Plist("<dict><key>quoradex</key><array><string>ADDR</string></array></dict>"), 4,
       "Caught exception: "},
      {"top level an array",
       Plist("<array><dict><key>quoradex</key><dict>" + ip + user + "</dict></dict></array>"), 4,
       "Caught exception: "},
      {"number before another entry",
       Settings(kPassword, "<key>ServerIp</key><integer>5</integer>", user), 4,
       "Caught exception: "},
      // It parses: reading stops at the number, the user name stays empty and the server refuses.
      {"number closing the entries",
       Settings(kPassword, ip, "<key>UserName</key><integer>7</integer>"), 2,
       "login failed begin notify need auth"},
      {"empty user name", Settings(kPassword, ip, String("UserName", "")), 4,
       "username or password or serverip is empty!"},
      {"quote in the password", Settings("Zq9#\"Pw-7731", ip, user), 4, "Caught exception: "},
      {"backslash in the password", Settings("Zq9#\\Pw-7731", ip, user), 4, "Caught exception: "},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    fs::remove(SettingsFile());
    std::string plist = c.plist;
    for (size_t at; (at = plist.find("ADDR")) != std::string::npos;)
      plist.replace(at, 4, server.address());
    if (plist == "-")
      fs::remove_all(SandboxDir() + "/private");
    else if (!plist.empty())
      WriteFile(SettingsFile(), plist);
    BackendRun run = RunBackend(StdinJob("Report", UuidOption(kUuid), kPostScript));
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_EQ(Notifications(server.store()), 1u) << c.name;
    std::string log = ReadFile(LogDir() + "vlog.txt");
    EXPECT_NE(log.find(c.logged), std::string::npos) << c.name << "\n" << log;
    EXPECT_EQ(log.find("Zq9#"), std::string::npos) << c.name << "\n" << log;
    EXPECT_TRUE(FileHolds(LogDir() + kUuid + ".ps", kPostScript)) << c.name;
  }
}

// Every kind of login answer a server or something posing as one can give.
TEST_F(HostileInput, MalformedLoginAnswersEndTheJobCleanly) {
  const std::string deep(100000, '[');
  const std::string shut(100000, ']');
  struct Case {
    std::string name;
    int httpStatus;
    std::string body;
    int status;
    std::string logged;
  } cases[] = {
      {"accepted", 200, R"({"code":"01","token":"tok"})", 0, "upload finished"},
      {"accepted with an error status", 500, R"({"code":"01","token":"tok"})", 0,
       "upload finished"},
      {"token with line breaks", 200, R"({"code":"01","token":"a\r\nb"})", 0, "upload finished"},
      {"refused", 200, R"({"code":"02"})", 2, "login failed begin notify need auth"},
      {"code repeated, the last one counts", 200, R"({"code":"01","code":"02","token":"t"})", 2,
       "login failed begin notify need auth"},
      {"code a number", 200, R"({"code":1,"token":"t"})", 4, "begin notify"},
      {"code null", 200, R"({"code":null})", 4, "begin notify"},
      {"no token", 200, R"({"code":"01"})", 4, "begin notify"},
      {"token a number", 200, R"({"code":"01","token":7})", 4, "begin notify"},
      {"no code", 200, R"({"msg":"no"})", 4, "login failed"},
      {"empty", 200, "", 4, "login failed"},
      {"HTML naming a barcode", 502, "<html><body>barcode reader down</body></html>", 4,
       "begin notify"},
      {"an array", 200, R"(["code","01"])", 4, "begin notify"},
      {"a bare string", 200, R"("code")", 4, "begin notify"},
      {"trailing bytes", 200, R"({"code":"01","token":"t"}x)", 4, "begin notify"},
      {"NUL inside", 200, std::string(R"({"code":"01","token":"t)") + '\0' + "\"}", 4,
       "begin notify"},
      {"nested deeper than any stack", 200, R"({"code":)" + deep, 4, "begin notify"},
      {"deep and complete", 200, R"({"code":)" + deep + shut + "}", 4, "begin notify"},
      {"beyond a megabyte", 200, R"({"code":"01","token":")" + std::string(2 << 20, 'x') + "\"}", 4,
       "login failed"},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess notifier;
    ASSERT_TRUE(notifier.start({"--notifier"}));
    CannedServer server;
    ASSERT_TRUE(server.start(c.httpStatus, c.body));
    WriteSettings(server.address());
    BackendRun run = RunBackend(StdinJob("Report", UuidOption(kUuid), kPostScript));
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_TRUE(LogHas(c.logged)) << c.name;
    EXPECT_EQ(server.uploads(), c.status == 0 ? 1u : 0u) << c.name;
    EXPECT_EQ(Notifications(notifier.store()), c.status == 0 ? 0u : 1u) << c.name;
    EXPECT_TRUE(FileHolds(LogDir() + kUuid + ".ps", kPostScript)) << c.name;
  }
}

// The server's answer to the upload goes into the job log; an endless one must not fill the disk.
TEST_F(HostileInput, HugeUploadAnswerIsLoggedOnlyInPart) {
  CannedServer server;
  ASSERT_TRUE(server.start(200, R"({"code":"01","token":"tok"})", size_t{64} << 20));
  WriteSettings(server.address());
  BackendRun run = RunBackend(StdinJob("Report", UuidOption(kUuid), kPostScript));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(server.uploads(), 1u);
  EXPECT_TRUE(LogHas("upload finished"));
  struct stat log {};
  ASSERT_EQ(stat((LogDir() + "vlog.txt").c_str(), &log), 0);
  EXPECT_LT(log.st_size, 2 << 20);
}

}  // namespace

}  // namespace vp
