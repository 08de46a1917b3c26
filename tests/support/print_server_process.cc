#include "tests/support/print_server_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#if VP_LINUX_EXTRAS
#include <sys/prctl.h>
#endif
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/platform.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr char kServerProgram[] = VP_BINARY_DIR "/tools/print-server/print-server";
constexpr int kStartTimeoutMs = 10000;

[[noreturn]] void runServer(char* const* argv, int out) {
#if VP_LINUX_EXTRAS
  // Dies with the test, so a crashed test never leaves the notifier port taken.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  dup2(out, STDOUT_FILENO);
  execv(kServerProgram, argv);
  _exit(127);
}

// The "listening port=N notifier=M" line, or empty when none came in time.
std::string readReadyLine(int in) {
  std::string line;
  pollfd wait{in, POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&wait, 1, kStartTimeoutMs) > 0) {
    char buffer[256];
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got <= 0) {
      break;
    }
    line.append(buffer, static_cast<size_t>(got));
  }
  return line;
}

}  // namespace

bool PrintServerProcess::start(const std::vector<std::string>& flags) {
  char dir[] = "/tmp/vp-print-server-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    return false;
  }
  store_ = dir;
  std::vector<std::string> args = {kServerProgram, "--store", store_};
  args.insert(args.end(), flags.begin(), flags.end());
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  int pipeFds[2];
  if (PipeCloexec(pipeFds) != 0) {
    return false;
  }
  pid_ = fork();
  if (pid_ == 0) {
    close(pipeFds[0]);
    runServer(argv.data(), pipeFds[1]);
  }
  close(pipeFds[1]);
  std::string line = pid_ > 0 ? readReadyLine(pipeFds[0]) : "";
  close(pipeFds[0]);
  return std::sscanf(line.c_str(), "listening port=%d notifier=%d", &port_, &notifierPort_) == 2;
}

int PrintServerProcess::stop() {
  int status = 0;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

PrintServerProcess::~PrintServerProcess() {
  stop();
  if (!store_.empty()) {
    std::error_code ignored;
    fs::remove_all(store_, ignored);
  }
}

std::vector<std::string> StoredJobs(const std::string& store) {
  std::vector<std::string> jobs;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(store, ignored)) {
    if (entry.path().filename().string().starts_with("job-")) {
      jobs.push_back(entry.path().string());
    }
  }
  return jobs;
}

int UnusedLoopbackPort() {
  int fd = SocketCloexec(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool MakeSelfSignedCertificate(const std::string& dir, std::string& cert, std::string& key) {
  cert = dir + "/cert.pem";
  key = dir + "/key.pem";
  std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
      "-keyout '" +
      key + "' -out '" + cert + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace vp
