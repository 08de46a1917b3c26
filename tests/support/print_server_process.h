#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vp {

// The local print server (tools/print-server) as a child process of a test, with its own storage
// folder. Stopped and its folder removed when the object goes.
class PrintServerProcess {
 public:
  PrintServerProcess() = default;
  PrintServerProcess(const PrintServerProcess&) = delete;
  PrintServerProcess& operator=(const PrintServerProcess&) = delete;
  ~PrintServerProcess();

  // Starts it with the given flags (besides --store) and waits until it listens.
  bool start(const std::vector<std::string>& flags);
  // SIGTERM and wait; returns the exit status (or 128 + signal).
  int stop();

  int port() const { return port_; }
  int notifierPort() const { return notifierPort_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& store() const { return store_; }

 private:
  pid_t pid_ = -1;
  int port_ = -1;
  int notifierPort_ = -1;
  std::string store_;
};

// The print server's job folders ("job-N") in its storage folder.
std::vector<std::string> StoredJobs(const std::string& store);

// A loopback port that nothing listens on (just released by the system).
int UnusedLoopbackPort();

// A self-signed certificate and key for 127.0.0.1 written into the folder by the openssl tool;
// false when they could not be made.
bool MakeSelfSignedCertificate(const std::string& dir, std::string& cert, std::string& key);

}  // namespace vp
