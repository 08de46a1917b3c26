#include "bench/bench_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vp {

namespace {

std::vector<char*> CStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

void AddStream(posix_spawn_file_actions_t& actions, int from, int to, int flags) {
  if (from < 0) {
    posix_spawn_file_actions_addopen(&actions, to, "/dev/null", flags, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, from, to);
  }
}

// Reads the server's first line ("listening port=N notifier=M"); -1 when it never comes.
int ReadPort(int fd) {
  std::string line;
  char c = 0;
  while (line.size() < 256 && read(fd, &c, 1) == 1 && c != '\n')
    line += c;
  int port = -1;
  return sscanf(line.c_str(), "listening port=%d", &port) == 1 ? port : -1;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            Redirect io) {
  std::vector<std::string> args = argv;
  std::vector<std::string> vars = env;
  std::vector<char*> cArgs = CStrings(args);
  std::vector<char*> cVars = CStrings(vars);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  AddStream(actions, io.in, 0, O_RDONLY);
  AddStream(actions, io.out, 1, O_WRONLY);
  AddStream(actions, io.err, 2, O_WRONLY);
  // The child starts with default signal handling, whatever this process ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int failed = posix_spawnp(&pid, cArgs[0], &actions, &attributes, cArgs.data(), cVars.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : -1;
}

Exit Wait(pid_t pid) {
  Exit exit;
  if (pid < 0)
    return exit;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR)
      return exit;
  }
  exit.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return exit;
}

bool Run(const std::vector<std::string>& argv, const std::vector<std::string>& env, Redirect io) {
  return Wait(Spawn(argv, env, io)).status == 0;
}

bool MakePipe(int ends[2]) {
  return pipe2(ends, O_CLOEXEC) == 0;
}

bool StartDrain(Drain& drain) {
  int ends[2];
  if (!MakePipe(ends))
    return false;
  drain.fd = ends[1];
  drain.reader = std::thread([fd = ends[0]] {
    char buffer[65536];
    for (;;) {
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EINTR))
        break;
    }
    close(fd);
  });
  return true;
}

void StopDrain(Drain& drain) {
  if (drain.fd >= 0)
    close(drain.fd);
  drain.fd = -1;
  if (drain.reader.joinable())
    drain.reader.join();
}

bool StartServer(ServerProcess& server, const std::string& program,
                 const std::vector<std::string>& flags) {
  int ends[2];
  if (!MakePipe(ends))
    return false;
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), flags.begin(), flags.end());
  server.pid = Spawn(argv, BaselineEnvironment(), {-1, ends[1], -1});
  close(ends[1]);
  server.port = server.pid < 0 ? -1 : ReadPort(ends[0]);
  close(ends[0]);
  if (server.port < 0)
    StopServer(server);
  return server.port >= 0;
}

void StopServer(ServerProcess& server) {
  if (server.pid < 0)
    return;
  kill(server.pid, SIGTERM);
  Wait(server.pid);
  server.pid = -1;
}

std::vector<std::string> BaselineEnvironment() {
  return {"PATH=/usr/bin:/bin", "LC_ALL=C"};
}

}  // namespace vp
