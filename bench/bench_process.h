#pragma once

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

namespace vp {

// Child processes for the baselines (cat, grep, curl), the backend and the print server.

// Descriptors a child gets as its standard streams; -1 gives it /dev/null.
struct Redirect {
  int in = -1;
  int out = -1;
  int err = -1;
};

// How a child ended: its exit status, -1 when killed. (Its peak memory as wait4 reports it would
// include this process's, which it starts as a copy of: see vp_peak_rss.)
struct Exit {
  int status = -1;
};

// Starts `argv[0]` (a path, or a name looked up in PATH) with exactly `env`; -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, Redirect io);
Exit Wait(pid_t pid);

// Runs one program to its end; true when it exits with status 0.
bool Run(const std::vector<std::string>& argv, const std::vector<std::string>& env, Redirect io);

// A pipe whose far end is read and thrown away by a thread, as the scheduler reads a backend's
// status lines: writers pay the cost of a real pipe without ever blocking on a full one.
struct Drain {
  int fd = -1;  // the end to write to
  std::thread reader;
};
bool StartDrain(Drain& drain);
void StopDrain(Drain& drain);

// A pipe with both ends closed on exec; false when none could be made.
bool MakePipe(int ends[2]);

// The local print-management server, started on a free loopback port.
struct ServerProcess {
  pid_t pid = -1;
  int port = -1;
};
bool StartServer(ServerProcess& server, const std::string& program,
                 const std::vector<std::string>& flags);
void StopServer(ServerProcess& server);

// The environment the baselines run in: a plain PATH and the C locale, so grep compares bytes as
// the backend does.
std::vector<std::string> BaselineEnvironment();

}  // namespace vp
