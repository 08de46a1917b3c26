#include "tests/e2e/backend_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "util/platform.h"

namespace vp {

namespace fs = std::filesystem;

std::string SandboxDir() {
  return VP_SANDBOX;
}
std::string LogDir() {
  return SandboxDir() + "/var/log/cups/";
}
std::string BackendPath() {
  return SandboxDir() + "/bin/virtual-printer";
}

void ResetSandbox() {
  fs::remove_all(SandboxDir() + "/var");
  fs::remove_all(SandboxDir() + "/private");
  fs::create_directories(SandboxDir() + "/var/log");
  fs::create_directories(SandboxDir() + "/var/run");
  fs::create_directories(SandboxDir() + "/private/var/spool");
}

std::vector<std::string> CupsEnvironment(const char* model, const std::string& path) {
  std::vector<std::string> env;
  env.push_back("PATH=" + (path.empty() ? std::string("/usr/bin:/usr/sbin:/bin") : path));
  env.push_back("LANG=C");
  while (env.size() < 28)
    env.push_back("CUPS_VAR" + std::to_string(env.size()) + "=x");
  if (model) {
    env.push_back(std::string("PRINTER_MODEL=") + model);
    env.push_back("CUPS_SERVERROOT=/etc/cups");
  }
  return env;
}

namespace {

std::vector<char*> CStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Descriptors are opened close-on-exec: runs started from several threads at once must not pass
// one another's pipes to their programs, or a program would hold another's input open forever.
int TempFile(const char* name) {
  std::string path = fs::temp_directory_path() / (std::string(name) + "XXXXXX");
  int fd = mkostemp(path.data(), O_CLOEXEC);
  unlink(path.c_str());
  return fd;
}

std::string ReadAll(int fd) {
  lseek(fd, 0, SEEK_SET);
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, n);
  return text;
}

void WriteAllIgnoringErrors(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0)
      return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

BackendRun RunBackend(const BackendCall& call) {
  std::vector<std::string> argv{call.argv0.empty() ? BackendPath() : call.argv0};
  argv.insert(argv.end(), call.args.begin(), call.args.end());
  std::vector<std::string> env = call.env;
  std::vector<char*> c_argv = CStrings(argv);
  std::vector<char*> c_env = CStrings(env);

  int in_pipe[2];
  if (PipeCloexec(in_pipe) != 0)
    return {};
  int out_fd = TempFile("vp-out");
  int err_fd = TempFile("vp-err");
  signal(SIGPIPE, SIG_IGN);

  std::string program = BackendPath();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    close(in_pipe[0]);
    close(in_pipe[1]);
    close(out_fd);
    close(err_fd);
    signal(SIGPIPE, SIG_DFL);
    execve(program.c_str(), c_argv.data(), c_env.data());
    _exit(127);
  }
  close(in_pipe[0]);
  std::thread writer([&] {
    WriteAllIgnoringErrors(in_pipe[1], call.stdinData);
    if (!call.stdinLater.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      WriteAllIgnoringErrors(in_pipe[1], call.stdinLater);
    }
    close(in_pipe[1]);
  });

  BackendRun run;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(call.timeoutSeconds);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wait_status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  writer.join();
  if (WIFEXITED(wait_status))
    run.status = WEXITSTATUS(wait_status);
  run.out = ReadAll(out_fd);
  run.err = ReadAll(err_fd);
  close(out_fd);
  close(err_fd);
  return run;
}

}  // namespace vp
