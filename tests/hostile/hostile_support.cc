#include "tests/hostile/hostile_support.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "submit/notifier.h"
#include "tests/support/client_settings.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr size_t kAnswerBlock = 64 * 1024;

int LoopbackSocket(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  // The print server binds with SO_REUSEPORT; the connections it leaves in TIME_WAIT hold the port
  // against any socket that does not do the same.
  int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &reuse, sizeof reuse);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A connection that waits in the listener's queue; non-blocking, so it never holds the test up.
int Knock(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

}  // namespace

std::string SettingsFile() {
  return SandboxDir() + "/private/var/spool/VirtualFile";
}

std::string SettingsListing() {
  return SettingsFile() + ".txt";
}

BackendCall StdinJob(const std::string& title, const std::string& options, const std::string& data,
                     const char* model) {
  BackendCall call;
  call.args = {"7", kUser, title, "1", options};
  call.env = CupsEnvironment(model, VP_BINARY_DIR "/tools/plutil:/usr/bin:/bin");
  call.stdinData = data;
  return call;
}

std::string UuidOption(const std::string& uuid) {
  return "job-uuid=urn:uuid:" + uuid;
}

void WriteSettings(const std::string& serverAddress) {
  WriteFile(SettingsFile(),
            ClientSettingsPlist(
                {{"PassWord2", kPassword}, {"ServerIp", serverAddress}, {"UserName", kUser}}));
}

bool StartPrintServer(PrintServerProcess& server, const std::string& mode, bool notifier) {
  std::vector<std::string> flags = {"--user", std::string(kUser) + ":" + kPassword, "--mode", mode};
  if (notifier)
    flags.push_back("--notifier");
  if (!server.start(flags))
    return false;
  WriteSettings(server.address());
  return true;
}

bool FileHolds(const std::string& path, const std::string& bytes) {
  std::error_code error;
  if (fs::file_size(path, error) != bytes.size() || error)
    return false;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  for (size_t at = 0; at < bytes.size();) {
    size_t want = std::min(block.size(), bytes.size() - at);
    if (!in.read(block.data(), static_cast<std::streamsize>(want)) ||
        std::memcmp(block.data(), bytes.data() + at, want) != 0) {
      return false;
    }
    at += want;
  }
  return true;
}

std::string StoredJobWithFile(const std::string& store, const std::string& fileName) {
  for (const std::string& job : StoredJobs(store)) {
    if (FileExists(job + "/" + fileName))
      return job;
  }
  return "";
}

size_t Notifications(const std::string& store) {
  return Lines(ReadFile(store + "/notifications.log")).size();
}

bool LogHas(const std::string& line) {
  std::vector<std::string> lines = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

namespace {

// The peak resident size ("VmHWM") of the process, in kilobytes, or 0 when it is gone.
long PeakKilobytes(const std::string& pid) {
  std::ifstream status("/proc/" + pid + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:"))
      return std::stol(line.substr(6));
  }
  return 0;
}

long LargestBackendPeak() {
  long largest = 0;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos)
      continue;
    if (fs::read_symlink(entry.path() / "exe", ignored) == BackendPath())
      largest = std::max(largest, PeakKilobytes(pid));
  }
  return largest;
}

}  // namespace

BackendPeakWatcher::BackendPeakWatcher()
    : thread_([this] {
        while (!stopping_) {
          peakKilobytes_ = std::max(peakKilobytes_.load(), LargestBackendPeak());
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      }) {}

BackendPeakWatcher::~BackendPeakWatcher() {
  stopping_ = true;
  thread_.join();
}

CannedServer::~CannedServer() {
  server_.stop();
  if (thread_.joinable())
    thread_.join();
}

bool CannedServer::start(int loginStatus, const std::string& loginBody, size_t uploadAnswerBytes) {
  server_.Get("/quoradex/printservice/authbyuserpwd2",
              [loginStatus, loginBody](const httplib::Request&, httplib::Response& res) {
                res.status = loginStatus;
                res.set_content(loginBody, "application/json");
              });
  server_.Post("/quoradex/printservice/fileupload",
               [this, uploadAnswerBytes](const httplib::Request&, httplib::Response& res,
                                         const httplib::ContentReader& reader) {
                 reader([](const httplib::MultipartFormData&) { return true; },
                        [](const char*, size_t) { return true; });
                 ++uploads_;
                 if (uploadAnswerBytes == 0) {
                   res.set_content("{\"code\":\"00\"}", "application/json");
                   return;
                 }
                 res.set_chunked_content_provider(
                     "text/plain", [uploadAnswerBytes, sent = size_t{0}](
                                       size_t, httplib::DataSink& sink) mutable {
                       if (sent >= uploadAnswerBytes) {
                         sink.done();
                         return true;
                       }
                       std::string block(std::min(kAnswerBlock, uploadAnswerBytes - sent), 'x');
                       sent += block.size();
                       return sink.write(block.data(), block.size());
                     });
               });
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0)
    return false;
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  return true;
}

SilentNotifier::~SilentNotifier() {
  stopping_ = true;
  if (thread_.joinable())
    thread_.join();
  for (int fd : held_)
    close(fd);
  if (listener_ >= 0)
    close(listener_);
}

bool SilentNotifier::start(Kind kind) {
  listener_ = LoopbackSocket(kNotifierPort);
  if (listener_ < 0)
    return false;
  if (kind == Kind::kQueueFull) {
    // With a backlog of 0 the queue holds one connection; later ones are never let in.
    listen(listener_, 0);
    held_.push_back(Knock(kNotifierPort));
    held_.push_back(Knock(kNotifierPort));
    return true;
  }
  listen(listener_, 16);
  thread_ = std::thread([this] {
    std::vector<pollfd> watched = {{listener_, POLLIN, 0}};
    while (!stopping_) {
      if (poll(watched.data(), watched.size(), 50) <= 0)
        continue;
      if (watched[0].revents & POLLIN) {
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        held_.push_back(fd);
        watched.push_back({fd, POLLIN, 0});
      }
      // Requests are read and dropped; a connection the client closed is no longer watched.
      char sink[4096];
      for (size_t i = 1; i < watched.size(); ++i) {
        if ((watched[i].revents & (POLLIN | POLLHUP)) &&
            read(watched[i].fd, sink, sizeof sink) <= 0)
          watched[i].fd = -1;
      }
    }
  });
  return true;
}

bool NotifierPortFree() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(kNotifierPort);
  bool refused = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                 errno == ECONNREFUSED;
  close(fd);
  return refused;
}

}  // namespace vp
