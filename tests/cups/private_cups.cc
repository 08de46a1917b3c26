#include "tests/cups/private_cups.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <cups/cups.h>

#include "tests/support/loopback.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr char kCupsExec[] = "/usr/lib/cups/daemon/cups-exec";
constexpr char kCupsDeviced[] = "/usr/lib/cups/daemon/cups-deviced";
constexpr char kSystemFilters[] = "/usr/lib/cups/filter";
constexpr auto kStartLimit = std::chrono::seconds(20);

// The driver's filter program of the PPD queues: hands its input on unchanged, so the backend gets
// the document on standard input as it would from a real driver.
constexpr char kPassthru[] = "#!/bin/sh\nexec cat ${6:+\"$6\"}\n";

bool MountTmpfs(const std::string& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  return mount("tmpfs", dir.c_str(), "tmpfs", 0, "mode=0755") == 0;
}

bool WriteMode(const std::string& path, const std::string& bytes, mode_t mode) {
  return WriteFile(path, bytes) && chmod(path.c_str(), mode) == 0;
}

std::string FilesConf(const std::string& root) {
  return "ServerRoot " + root + "\nStateDir " + root + "\nServerBin " + root + "/bin\nCacheDir " +
         root + "/cache\nDataDir /usr/share/cups\nRequestRoot " + root + "/spool\nTempDir " + root +
         "/spool/temp\nAccessLog " + root + "/log/access_log\nErrorLog " + root +
         "/log/error_log\nPageLog " + root + "/log/page_log\nPrintcap " + root + "/printcap\n";
}

// abort-job: with the default retry-job a failed job would sit held for minutes.
std::string CupsdConf(const std::string& socket, const std::string& logLevel) {
  return "LogLevel " + logLevel + "\nListen " + socket +
         "\nBrowsing Off\nWebInterface No\nErrorPolicy abort-job\n"
         "<Location />\n  Order allow,deny\n</Location>\n";
}

std::string LayOutScheduler(const World& world, const std::string& backend) {
  for (const char* dir :
       {"/bin/backend", "/bin/filter", "/bin/daemon", "/cache", "/log", "/spool/temp", "/ppd"}) {
    fs::create_directories(world.root + dir);
  }
  std::error_code error;
  std::string cupsExec = world.serverBin + "/daemon/cups-exec";
  if (world.cupsExecPrefix.empty())
    fs::create_symlink(kCupsExec, cupsExec, error);
  else if (!WriteMode(cupsExec,
                      "#!/bin/sh\nexec " + world.cupsExecPrefix + " " + kCupsExec + " \"$@\"\n",
                      0755))
    return "cannot write " + cupsExec;
  if (fs::exists(kCupsDeviced))
    fs::create_symlink(kCupsDeviced, world.serverBin + "/daemon/cups-deviced", error);
  fs::create_symlink(VP_PLUTIL_PROGRAM, world.serverBin + "/filter/plutil", error);
  // CUPS runs a backend as root only when it is root's and nobody else may run or change it.
  std::string installed = world.serverBin + "/backend/virtual-printer";
  if (!fs::copy_file(backend, installed, error) || chmod(installed.c_str(), 0700) != 0)
    return "cannot install " + backend + " as " + installed;
  if (!WriteMode(world.serverBin + "/filter/passthru", kPassthru, 0755) ||
      !WriteFile(world.root + "/cups-files.conf", FilesConf(world.root)) ||
      !WriteFile(world.root + "/cupsd.conf", CupsdConf(world.socket, world.logLevel)))
    return "cannot write the scheduler's files under " + world.root;
  return "";
}

// The child's standard output and error go to `out`; its standard input is empty.
pid_t Spawn(const std::vector<std::string>& argv, int out) {
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    signal(SIGPIPE, SIG_DFL);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

bool ReadLineWithin(int fd, std::string& line, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  char c = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0)
      continue;
    if (read(fd, &c, 1) != 1)
      return false;
    if (c == '\n')
      return true;
    line += c;
  }
  return false;
}

std::string StartPrintServer(World& world) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0)
    return "pipe failed";
  std::vector<std::string> argv = {VP_PRINT_SERVER, "--store",     world.store, "--port", "0",
                                   "--user",        "alice:s3cret"};
  if (world.notifier)
    argv.push_back("--notifier");
  world.printServer = Spawn(argv, pipeFds[1]);
  close(pipeFds[1]);
  std::string line;
  bool said = ReadLineWithin(pipeFds[0], line, kStartLimit);
  close(pipeFds[0]);
  if (!said || std::sscanf(line.c_str(), "listening port=%d", &world.serverPort) != 1)
    return "the print server did not start: " + line;
  return "";
}

// The scheduler reads its filters once, when it starts.
void InstallSystemFilters(const World& world) {
  std::error_code error;
  for (const fs::directory_entry& filter : fs::directory_iterator(kSystemFilters, error)) {
    fs::create_symlink(filter.path(),
                       fs::path(world.serverBin) / "filter" / filter.path().filename(), error);
  }
}

bool Answers(const std::string& socketPath) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
  bool answered = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return answered;
}

std::string StartScheduler(World& world) {
  int out = open((world.root + "/log/cupsd.out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  world.cupsd = Spawn(
      {"cupsd", "-f", "-c", world.root + "/cupsd.conf", "-s", world.root + "/cups-files.conf"},
      out);
  close(out);
  auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (!Answers(world.socket)) {
    int status = 0;
    if (waitpid(world.cupsd, &status, WNOHANG) == world.cupsd) {
      world.cupsd = -1;
      return "cupsd exited: " + ReadFile(world.root + "/log/cupsd.out") +
             ReadFile(world.root + "/log/error_log");
    }
    if (std::chrono::steady_clock::now() > deadline)
      return "cupsd does not answer on " + world.socket;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  setenv("CUPS_SERVER", world.socket.c_str(), 1);
  cupsSetServer(world.socket.c_str());
  return "";
}

void Stop(pid_t& pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

ipp_t* Ask(ipp_op_t operation, const char* uriName, const std::string& uri,
           const std::vector<const char*>& wanted) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr, uri.c_str());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(wanted.size()), nullptr, wanted.data());
  return cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
}

std::string TextOf(ipp_t* response, const char* name) {
  ipp_attribute_t* text = ippFindAttribute(response, name, IPP_TAG_TEXT);
  const char* value = text == nullptr ? nullptr : ippGetString(text, 0, nullptr);
  return value == nullptr ? "" : value;
}

bool SchedulerDone(const JobOutcome& outcome) {
  return outcome.state >= IPP_JSTATE_CANCELED || outcome.state == IPP_JSTATE_HELD ||
         (outcome.state == IPP_JSTATE_PENDING && outcome.queueStopped);
}

}  // namespace

JobOutcome AskJob(const std::string& queue, int id) {
  JobOutcome outcome;
  ipp_t* job = Ask(
      IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", "ipp://localhost/jobs/" + std::to_string(id),
      {"job-state", "job-state-reasons", "job-printer-state-message", "job-impressions-completed"});
  if (ipp_attribute_t* state = ippFindAttribute(job, "job-state", IPP_TAG_ENUM))
    outcome.state = ippGetInteger(state, 0);
  outcome.jobMessage = TextOf(job, "job-printer-state-message");
  if (ipp_attribute_t* done = ippFindAttribute(job, "job-impressions-completed", IPP_TAG_INTEGER))
    outcome.impressions = ippGetInteger(done, 0);
  if (ipp_attribute_t* reasons = ippFindAttribute(job, "job-state-reasons", IPP_TAG_KEYWORD)) {
    for (int i = 0; i < ippGetCount(reasons); ++i)
      outcome.reasons.push_back(ippGetString(reasons, i, nullptr));
  }
  ippDelete(job);
  ipp_t* printer =
      Ask(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", "ipp://localhost/printers/" + queue,
          {"printer-state", "printer-state-message", "printer-state-reasons"});
  ipp_attribute_t* state = ippFindAttribute(printer, "printer-state", IPP_TAG_ENUM);
  if (ipp_attribute_t* reasons =
          ippFindAttribute(printer, "printer-state-reasons", IPP_TAG_KEYWORD)) {
    for (int i = 0; i < ippGetCount(reasons); ++i)
      outcome.queueReasons.push_back(ippGetString(reasons, i, nullptr));
  }
  outcome.queueStopped = state != nullptr && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED;
  outcome.queueMessage = TextOf(printer, "printer-state-message");
  ippDelete(printer);
  return outcome;
}

int RunIsolated(char* argv[]) {
  if (geteuid() != 0) {
    std::fprintf(stderr, "these tests run a private CUPS scheduler and must run as root\n");
    return 1;
  }
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0)
    return 1;
  std::vector<char*> args;
  for (const char* arg :
       {"unshare", "--mount", "--net", "--pid", "--fork", "--kill-child", "--mount-proc"}) {
    args.push_back(const_cast<char*>(arg));
  }
  args.push_back(self);
  for (int i = 1; argv[i] != nullptr; ++i)
    args.push_back(argv[i]);
  args.push_back(nullptr);
  execvp(args[0], args.data());
  std::perror("unshare");
  return 1;
}

std::string StartWorld(World& world, const std::string& backend, bool systemFilters) {
  if (world.root.empty())
    world.root = std::string(VP_BINARY_DIR) + "/tests/cups/world";
  world.socket = world.root + "/sock";
  world.serverBin = world.root + "/bin";
  world.store = world.root + "/store";
  world.logDir = std::string(VP_SANDBOX) + "/var/log/cups/";
  world.settings = std::string(VP_SANDBOX) + "/private/var/spool/VirtualFile";
  if (getpid() != 1)
    return "not in a namespace of its own (run through RunIsolated)";
  if (!BringUpLoopback())
    return "cannot bring up the loopback interface";
  for (const std::string& dir :
       {world.root, std::string(VP_SANDBOX) + "/var", std::string(VP_SANDBOX) + "/private"}) {
    if (!MountTmpfs(dir))
      return "cannot mount a tmpfs on " + dir + ": " + std::strerror(errno);
  }
  fs::create_directories(std::string(VP_SANDBOX) + "/var/log");
  fs::create_directories(std::string(VP_SANDBOX) + "/var/run");
  fs::create_directories(std::string(VP_SANDBOX) + "/private/var/spool");
  std::string error = LayOutScheduler(world, backend);
  if (error.empty() && systemFilters)
    InstallSystemFilters(world);
  if (error.empty())
    error = StartPrintServer(world);
  if (error.empty())
    error = StartScheduler(world);
  return error;
}

void StopWorld(World& world) {
  Stop(world.cupsd);
  Stop(world.printServer);
}

CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0)
    return result;
  pid_t pid = Spawn(argv, pipeFds[1]);
  close(pipeFds[1]);
  char block[4096];
  ssize_t got = 0;
  while ((got = read(pipeFds[0], block, sizeof(block))) > 0)
    result.output.append(block, static_cast<size_t>(got));
  close(pipeFds[0]);
  result.status = ExitStatus(pid);
  return result;
}

std::string AddQueue(const World& world, const std::string& name, const std::string& ppd,
                     const std::string& deviceUri) {
  std::vector<std::string> argv = {"lpadmin", "-p", name, "-E", "-v", deviceUri};
  if (ppd.empty()) {
    argv.insert(argv.end(), {"-m", "raw"});
  } else {
    std::string path = world.root + "/ppd/" + name + ".source.ppd";
    WriteFile(path, ppd);
    argv.insert(argv.end(), {"-P", path});
  }
  CommandResult added = RunCommand(argv);
  return added.status == 0 ? "" : "lpadmin: " + added.output;
}

int SubmitJob(const std::string& queue, const std::string& file,
              const std::vector<std::string>& lpArguments, std::string& error) {
  std::vector<std::string> argv = {"lp", "-d", queue};
  argv.insert(argv.end(), lpArguments.begin(), lpArguments.end());
  argv.push_back(file);
  CommandResult submitted = RunCommand(argv);
  std::string prefix = "request id is " + queue + "-";
  size_t at = submitted.output.find(prefix);
  if (submitted.status != 0 || at == std::string::npos) {
    error = "lp: " + submitted.output;
    return -1;
  }
  return std::atoi(submitted.output.c_str() + at + prefix.size());
}

JobOutcome WaitForJob(const std::string& queue, int id, int timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  JobOutcome outcome = AskJob(queue, id);
  while (!SchedulerDone(outcome) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    outcome = AskJob(queue, id);
  }
  return outcome;
}

bool HasReason(const JobOutcome& outcome, const std::string& reason) {
  return Contains(outcome.reasons, reason);
}

std::string SchedulerLogOf(const World& world, int id) {
  std::string tag = "[Job " + std::to_string(id) + "]";
  std::string lines;
  for (const std::string& line : Lines(ReadFile(world.root + "/log/error_log"))) {
    if (line.find(tag) != std::string::npos)
      lines += line + "\n";
  }
  return lines;
}

std::string StoredUpload(const World& world, const std::string& fileName) {
  std::error_code error;
  for (const fs::directory_entry& job : fs::directory_iterator(world.store, error)) {
    if (fs::exists(job.path() / fileName))
      return job.path().string();
  }
  return "";
}

std::vector<std::string> Notifications(const World& world) {
  return Lines(ReadFile(world.store + "/notifications.log"));
}

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

}  // namespace vp
