// Faults of the server, the notifier and the disk, end to end: the job must end with the status
// that fits, within the bounds its time-outs set, and lose nothing it has spooled. Durations are
// printed for the record; the only bounds checked are far above the time-outs, to tell a wait from
// a hang.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "tests/hostile/hostile_support.h"
#include "tests/support/print_server_process.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr char kUuid[] = "9d8c7b6a-5f4e-4d3c-8b2a-190817263544";

// PostScript of about `size` bytes, every line different, so a lost or doubled block shows.
std::string PostScript(size_t size) {
  std::string data = "%!PS-Adobe-3.0\n%%Pages: 1\n";
  for (size_t line = 0; data.size() < size; ++line)
    data += "% line " + std::to_string(line) + " of the job's data\n";
  return data;
}

class Faults : public testing::Test {
 protected:
  void SetUp() override { ResetSandbox(); }
};

std::string DataFile() {
  return LogDir() + kUuid + ".ps";
}

bool ControlFileComplete() {
  std::vector<std::string> lines = Lines(ReadFile(LogDir() + kUuid + ".ctl"));
  return lines.size() == 9 && lines[0] == std::string("DataFile:") + kUuid + ".ps";
}

TEST_F(Faults, ServerRefusingConnectionsEndsTheJobWithStatus4) {
  PrintServerProcess notifier;
  ASSERT_TRUE(notifier.start({"--notifier"}));
  WriteSettings("127.0.0.1:" + std::to_string(UnusedLoopbackPort()));
  const std::string data = PostScript(100000);
  BackendRun run = RunBackend(StdinJob("Report", UuidOption(kUuid), data));
  EXPECT_EQ(run.status, 4);
  EXPECT_TRUE(LogHas("login failed"));
  EXPECT_EQ(Notifications(notifier.store()), 1u);
  EXPECT_TRUE(FileHolds(DataFile(), data));
  EXPECT_TRUE(ControlFileComplete());
}

TEST_F(Faults, ServerThatNeverAnswersTheLoginIsLeftAfterItsTimeOut) {
  PrintServerProcess server;
  ASSERT_TRUE(StartPrintServer(server, "stall"));
  auto start = std::chrono::steady_clock::now();
  BackendRun run = RunBackend(StdinJob("Report", UuidOption(kUuid), PostScript(1000)));
  double seconds = SecondsSince(start);
  std::cout << "login to a silent server: job took " << seconds << " s\n";
  EXPECT_EQ(run.status, 4);
  EXPECT_TRUE(LogHas("login failed"));
  EXPECT_TRUE(LogHas("Request failed. Error code: 28"));  // libcurl's time-out
  EXPECT_EQ(Notifications(server.store()), 1u);
  EXPECT_LT(seconds, 30);
}

// ---- a queue that waits for its server (wait=SECONDS): only a server that takes no connection is
// waited for.

// A loopback listener whose queue is full: a connection to it is never made, its time runs out.
class FullQueueListener {
 public:
  FullQueueListener() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        listen(listener_, 0) != 0)
      return;
    port_ = ntohs(address.sin_port);
    // With a backlog of 0 the queue holds one connection; later ones are never let in.
    for (int i = 0; i < 2; ++i) {
      held_[i] = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      connect(held_[i], reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
  }
  FullQueueListener(const FullQueueListener&) = delete;
  FullQueueListener& operator=(const FullQueueListener&) = delete;
  ~FullQueueListener() {
    for (int fd : {listener_, held_[0], held_[1]})
      close(fd);
  }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int held_[2] = {-1, -1};
  int port_ = -1;
};

size_t LogCount(const std::string& line) {
  std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  return static_cast<size_t>(std::count(log.begin(), log.end(), line));
}

TEST_F(Faults, ConnectionThatTimesOutIsWaitedFor) {
  PrintServerProcess notifier;
  ASSERT_TRUE(notifier.start({"--notifier"}));
  FullQueueListener full;
  ASSERT_GT(full.port(), 0);
  WriteSettings("127.0.0.1:" + std::to_string(full.port()));
  BackendCall call = StdinJob("Report", UuidOption(kUuid), PostScript(1000));
  // The login's connection time-out is 5 s: a try at 0 s, a pause of 1 s, the last try at 6 s.
  call.env.push_back("DEVICE_URI=virtual-printer:/?wait=6");
  auto start = std::chrono::steady_clock::now();
  BackendRun run = RunBackend(call);
  double seconds = SecondsSince(start);
  std::cout << "a wait of 6 s for a connection that times out: job took " << seconds << " s\n";
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(LogCount("Request failed. Error code: 28"), 2u);
  EXPECT_EQ(LogCount("server cannot be reached, next try in 1 s"), 1u);
  EXPECT_EQ(LogCount("login failed"), 1u);
  EXPECT_EQ(Notifications(notifier.store()), 1u);
  EXPECT_GE(seconds, 10);
  EXPECT_LT(seconds, 30);
}

TEST_F(Faults, ServerThatTakesTheConnectionAndNeverAnswersIsNotWaitedFor) {
  PrintServerProcess server;
  ASSERT_TRUE(StartPrintServer(server, "stall"));
  BackendCall call = StdinJob("Report", UuidOption(kUuid), PostScript(1000));
  call.env.push_back("DEVICE_URI=virtual-printer:/?wait=60");
  auto start = std::chrono::steady_clock::now();
  BackendRun run = RunBackend(call);
  double seconds = SecondsSince(start);
  std::cout << "a wait of 60 s for a silent server: job took " << seconds << " s\n";
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(LogCount("Request failed. Error code: 28"), 1u);
  EXPECT_FALSE(LogHas("server cannot be reached, next try in 1 s"));
  EXPECT_EQ(Notifications(server.store()), 1u);
  EXPECT_LT(seconds, 30);
}

// A failed upload keeps everything for the scheduler's retry. A server that takes the body and
// never answers is given up after a minute without progress.
TEST_F(Faults, UploadThatBreaksOffLosesNothingSpooled) {
  struct Case {
    const char* name;
    const char* mode;
    double bound;  // seconds
  } cases[] = {
      {"the server dies halfway", "close-mid-upload", 30},
      {"the server takes the upload and never answers", "upload-no-answer", 120},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server, c.mode));
    const std::string data = PostScript(8 << 20);
    BackendCall call = StdinJob("Report", UuidOption(kUuid), data);
    call.timeoutSeconds = 180;
    auto start = std::chrono::steady_clock::now();
    BackendRun run = RunBackend(call);
    double seconds = SecondsSince(start);
    std::cout << c.name << ": job took " << seconds << " s\n";
    EXPECT_EQ(run.status, 4) << c.name;
    EXPECT_TRUE(LogHas("upload fail")) << c.name;
    EXPECT_TRUE(FileHolds(DataFile(), data)) << c.name;
    EXPECT_TRUE(ControlFileComplete()) << c.name;
    EXPECT_LT(seconds, c.bound) << c.name;
  }
}

// The login is refused, so the notifier is told; how long that takes depends on the notifier.
TEST_F(Faults, NotifierThatIsAbsentOrSilentDelaysTheJobOnlyWithinItsTimeOuts) {
  enum class Notifier { kAnswers, kAbsent, kQueueFull, kSilent, kEndless, kTrickles };
  struct Case {
    const char* name;
    Notifier notifier;
    double bound;  // seconds, far above what the time-outs allow
  } cases[] = {
      {"answers", Notifier::kAnswers, 10},
      {"nothing listens", Notifier::kAbsent, 10},
      {"its queue is full (the 300 ms connection time-out)", Notifier::kQueueFull, 10},
      {"accepts and never answers (the 10 s read time-out)", Notifier::kSilent, 40},
      {"answers without end (the 10 s bound on the whole exchange)", Notifier::kEndless, 40},
      {"answers a byte every 8 s (the same bound)", Notifier::kTrickles, 40},
  };
  // Modes of a second print server that serves only as the notifier.
  const std::map<Notifier, std::vector<std::string>> noisy = {
      {Notifier::kEndless, {"--mode", "notifier-huge", "--huge-bytes", "999999999999999999"}},
      {Notifier::kTrickles, {"--mode", "notifier-trickle"}},
  };
  if (!NotifierPortFree())
    GTEST_SKIP() << "something else listens on the notifier's port";
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server, "refuse", c.notifier == Notifier::kAnswers));
    SilentNotifier silent;
    bool quiet = c.notifier == Notifier::kQueueFull || c.notifier == Notifier::kSilent;
    if (quiet) {
      ASSERT_TRUE(silent.start(c.notifier == Notifier::kQueueFull
                                   ? SilentNotifier::Kind::kQueueFull
                                   : SilentNotifier::Kind::kAcceptsNeverAnswers));
    }
    PrintServerProcess notifier;
    if (noisy.count(c.notifier) > 0) {
      std::vector<std::string> flags = noisy.at(c.notifier);
      flags.push_back("--notifier");
      ASSERT_TRUE(notifier.start(flags));
    }
    auto start = std::chrono::steady_clock::now();
    BackendPeakWatcher peak;
    BackendRun run = RunBackend(StdinJob("Report", UuidOption(kUuid), PostScript(1000)));
    double seconds = SecondsSince(start);
    std::cout << "notifier " << c.name << ": job took " << seconds << " s, backend peak "
              << peak.megabytes() << " MB\n";
    EXPECT_EQ(run.status, 2) << c.name;
    EXPECT_TRUE(LogHas("login failed begin notify need auth")) << c.name;
    EXPECT_LT(seconds, c.bound) << c.name;
  }
}

// ---- a disk that fills up while the job is spooled

// CPU time the process has used so far, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14)
      ticks += std::stol(field);  // utime, then stime
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

constexpr int kNoNamespace = 77;

// In the child: a mount namespace of its own, the log directory a 1 MB tmpfs holding a filler file
// of `filler` bytes (as much as fits), then the backend reading `input`.
[[noreturn]] void RunOnSmallDisk(const BackendCall& call, size_t filler, int input) {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", LogDir().c_str(), "tmpfs", 0, "size=1m,mode=0777") != 0) {
    _exit(kNoNamespace);
  }
  int fill = open((LogDir() + "filler").c_str(), O_WRONLY | O_CREAT, 0600);
  static const char block[4096] = {};
  for (size_t written = 0; written < filler;) {
    ssize_t n = write(fill, block, std::min(sizeof block, filler - written));
    if (n <= 0)
      break;
    written += static_cast<size_t>(n);
  }
  close(fill);
  int quiet = open("/dev/null", O_WRONLY);
  dup2(input, 0);
  dup2(quiet, 1);
  dup2(quiet, 2);
  std::vector<std::string> texts = {BackendPath()};
  texts.insert(texts.end(), call.args.begin(), call.args.end());
  std::vector<char*> argv, envp;
  for (std::string& text : texts)
    argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = call.env;
  for (std::string& entry : env)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

// Waits for the process to end, at most `seconds`; its exit status, or -1.
int WaitFor(pid_t pid, int seconds) {
  auto start = std::chrono::steady_clock::now();
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (SecondsSince(start) > seconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The backend must wait on a full disk without burning a core, and finish the job whole as soon as
// space is freed. A PDF job needs room for a second copy while it is wrapped.
TEST_F(Faults, FullDiskWhileSpoolingIsWaitedOutWithoutSpinning) {
  struct Case {
    const char* name;
    size_t filler;
    size_t data;
    bool pdf;
  } cases[] = {
      {"fills up halfway", 768 << 10, 600 << 10, false},
      {"full before the first block", 1 << 20, 300 << 10, false},
      {"full while the PDF is wrapped", 500 << 10, 300 << 10, true},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    fs::create_directories(LogDir());
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    const std::string data = (c.pdf ? "%PDF-1.4\n" : "") + PostScript(c.data);
    const std::string fileName = kUuid + std::string(c.pdf ? ".pdf" : ".ps");
    const std::string uploaded =
        c.pdf ? "\x1b%-12345X@PJL JOB NAME=Report\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n"
                "@PJL ENTER LANGUAGE=PDF\n" +
                    data + "\x1b%-12345X@PJL EOJ+\n%-12345X"
              : data;
    BackendCall call = StdinJob("Report", UuidOption(kUuid), data);
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    pid_t pid = fork();
    if (pid == 0)
      RunOnSmallDisk(call, c.filler, pipeFds[0]);
    close(pipeFds[0]);
    std::thread writer([&] {
      for (size_t at = 0; at < data.size();) {
        ssize_t n = write(pipeFds[1], data.data() + at, data.size() - at);
        if (n <= 0)
          break;
        at += static_cast<size_t>(n);
      }
      close(pipeFds[1]);
    });

    std::this_thread::sleep_for(std::chrono::seconds(2));
    int early = 0;
    if (waitpid(pid, &early, WNOHANG) == pid) {
      writer.join();
      if (WIFEXITED(early) && WEXITSTATUS(early) == kNoNamespace)
        GTEST_SKIP() << "no mount namespace here (needs root)";
      FAIL() << c.name << ": the backend ended on a full disk";
    }
    double before = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double used = CpuSeconds(pid) - before;
    std::cout << c.name << ": " << used << " s of CPU in 2 s of waiting on the full disk\n";
    EXPECT_LT(used, 0.5) << c.name;

    std::string filler = "/proc/" + std::to_string(pid) + "/root" + LogDir() + "filler";
    EXPECT_EQ(unlink(filler.c_str()), 0) << c.name;
    EXPECT_EQ(WaitFor(pid, 60), 0) << c.name;
    writer.join();
    std::string job = StoredJobWithFile(server.store(), fileName);
    ASSERT_FALSE(job.empty()) << c.name;
    EXPECT_TRUE(FileHolds(job + "/" + fileName, uploaded)) << c.name;
  }
}

}  // namespace

}  // namespace vp
