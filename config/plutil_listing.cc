#include "config/plutil_listing.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "util/job_log.h"
#include "util/platform.h"
#include "util/shell_quote.h"

namespace vp {

namespace {

// A property list of ours is listed in milliseconds; a FIFO in its place would wait forever.
constexpr std::chrono::seconds kPlutilTimeLimit{10};

// The shell running plutil, in a process group of its own so that everything it started can be
// killed together. Its output comes through `output`.
pid_t startPlutil(const std::string& plutil, const std::string& file, int& output) {
  int ends[2];
  if (PipeCloexec(ends) != 0)
    return -1;
  std::string command = ShellQuote(plutil) + " -p " + ShellQuote(file);
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    // The backend ignores SIGPIPE; a plutil whose reader gave up should simply end.
    signal(SIGPIPE, SIG_DFL);
    dup2(ends[1], 1);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    return -1;
  }
  setpgid(pid, pid);
  output = ends[0];
  return pid;
}

}  // namespace

bool ListPropertyList(std::ostream& log, const std::string& plutil, const std::string& file,
                      const std::function<bool(const char*, size_t)>& sink) {
  int output = -1;
  pid_t pid = startPlutil(plutil, file, output);
  if (pid < 0)
    return true;
  auto deadline = std::chrono::steady_clock::now() + kPlutilTimeLimit;
  size_t copied = 0;
  bool bounded = true;
  char block[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{output, POLLIN, 0};
    // A signal caught meanwhile must not end the copy early.
    int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
    if (polled < 0 && errno == EINTR)
      continue;
    if (polled == 0) {
      Log(log, "plutil did not finish within " + std::to_string(kPlutilTimeLimit.count()) + " s");
      bounded = false;
      break;
    }
    ssize_t n = read(output, block, sizeof block);
    if (n < 0 && errno == EINTR)
      continue;
    if (n > 0 && copied + static_cast<size_t>(n) > kMaxPlutilListingBytes) {
      Log(log, "settings listing larger than " + std::to_string(kMaxPlutilListingBytes) + " bytes");
      bounded = false;
      break;
    }
    if (n <= 0 || !sink(block, static_cast<size_t>(n)))
      break;
    copied += static_cast<size_t>(n);
  }
  if (!bounded)
    killpg(pid, SIGKILL);
  close(output);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return bounded;
}

}  // namespace vp
