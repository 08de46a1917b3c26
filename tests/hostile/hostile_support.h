#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/backend_runner.h"
#include "tests/support/print_server_process.h"

namespace vp {

// What the hostile-input, fault and concurrency tests share: jobs as a driver queue hands them
// over, the client settings, and servers that answer the way a test needs.

constexpr char kUser[] = "alice";
constexpr char kPassword[] = "Zq9#Pw-7731";

std::string SettingsFile();
std::string SettingsListing();

// A job whose data arrives on standard input, with a PATH that finds the plutil stand-in.
BackendCall StdinJob(const std::string& title, const std::string& options, const std::string& data,
                     const char* model = "Generic PostScript");

std::string UuidOption(const std::string& uuid);

// Client settings naming the server, with the test user's credentials.
void WriteSettings(const std::string& serverAddress);

// Starts the local print server in the mode given, with the test user (and the notifier, unless
// told otherwise), and writes settings that name it.
bool StartPrintServer(PrintServerProcess& server, const std::string& mode = "ok",
                      bool notifier = true);

// Whether the file holds exactly these bytes; compared in blocks, so large files are fine.
bool FileHolds(const std::string& path, const std::string& bytes);

// The stored upload of the local print server that carries this file name, or empty.
std::string StoredJobWithFile(const std::string& store, const std::string& fileName);

// Messages the local notifier accepted.
size_t Notifications(const std::string& store);

// Whether the job log shows the line (stamps removed).
bool LogHas(const std::string& line);

double SecondsSince(std::chrono::steady_clock::time_point start);

// While it lives, watches every running backend program (sampled every 10 ms) and keeps the
// largest resident size one of them reached. (A child's own rusage would count the pages it
// shared with the test process between fork and exec.)
class BackendPeakWatcher {
 public:
  BackendPeakWatcher();
  BackendPeakWatcher(const BackendPeakWatcher&) = delete;
  BackendPeakWatcher& operator=(const BackendPeakWatcher&) = delete;
  ~BackendPeakWatcher();

  long megabytes() const { return peakKilobytes_ / 1024; }

 private:
  std::atomic<bool> stopping_{false};
  std::atomic<long> peakKilobytes_{0};
  std::thread thread_;
};

// An HTTP server in the test process on 127.0.0.1: the login gets a fixed answer, uploads are
// read to their end and answered with `uploadAnswerBytes` bytes (a small JSON text when 0).
class CannedServer {
 public:
  CannedServer() = default;
  CannedServer(const CannedServer&) = delete;
  CannedServer& operator=(const CannedServer&) = delete;
  ~CannedServer();

  bool start(int loginStatus, const std::string& loginBody, size_t uploadAnswerBytes = 0);
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  size_t uploads() const { return uploads_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
  std::atomic<size_t> uploads_{0};
};

// A listener on the notifier's fixed port that never answers: it either accepts connections and
// reads requests without replying, or leaves its queue full so that no connection gets through.
class SilentNotifier {
 public:
  enum class Kind { kAcceptsNeverAnswers, kQueueFull };
  SilentNotifier() = default;
  SilentNotifier(const SilentNotifier&) = delete;
  SilentNotifier& operator=(const SilentNotifier&) = delete;
  ~SilentNotifier();

  // False when the port cannot be had. Check NotifierPortFree first: a listener that shares the
  // port as the print server does would not stop this one from binding.
  bool start(Kind kind);

 private:
  int listener_ = -1;
  std::vector<int> held_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Whether nothing listens on the notifier's port, so that a request to it is refused at once.
bool NotifierPortFree();

}  // namespace vp
