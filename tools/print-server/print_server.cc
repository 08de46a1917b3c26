// A local print-management server and notifier for tests, the demo and the benchmarks. It answers
// the backend's login and upload on 127.0.0.1 and, when asked, runs the notifier endpoint; a mode
// makes it misbehave in the ways a real server or network can.
//
//   print-server --store DIR [--port N] [--user NAME:PASSWORD]... [--mode MODE]
//                [--notifier | --notifier-port N] [--key KEY] [--tolerance-ms N]
//                [--huge-bytes N] [--throttle BYTES_PER_SECOND] [--tls-cert FILE --tls-key FILE]
//
// Port 0 picks a free port. Once every listener is bound it prints one line,
// "listening port=N notifier=M" (M is -1 without a notifier), and serves until SIGTERM or SIGINT.
//
// Storage: DIR/job-N/ per accepted upload holds the file under its sent name, "printProperties",
// "token" and "form" (one line per part: name, file name, content type, tab-separated).
// DIR/notifications.log holds each accepted notifier body, one per line; refused ones go to
// DIR/notifications-refused.log as the reason, a tab and the body as a JSON string.

#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "submit/notifier.h"
#include "submit/sha256.h"
#include "util/platform.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

enum class Mode {
  kOk,               // check credentials and tokens, store uploads
  kRefuse,           // every login answered with code "02"
  kHtmlBarcode,      // login answered by an HTML error page mentioning a barcode
  kNumericCode,      // login "code" is a number
  kNoToken,          // login code "01" without a token
  kNoCode,           // login answer without any "code"
  kCutToken,         // login answer cut off inside the token
  kStall,            // requests are read and never answered
  kCloseMidUpload,   // the process dies as the uploaded file starts to arrive
  kHugeAnswer,       // every answer --huge-bytes bytes long, nothing stored
  kUploadError,      // uploads answered with status 500
  kUploadNoAnswer,   // uploads read to their end and never answered
  kNotifierHuge,     // the notifier takes the message and answers --huge-bytes bytes
  kNotifierTrickle,  // the notifier answers a byte every 8 s, status line first
};

const std::map<std::string, Mode> kModes = {
    {"ok", Mode::kOk},
    {"refuse", Mode::kRefuse},
    {"html-barcode", Mode::kHtmlBarcode},
    {"numeric-code", Mode::kNumericCode},
    {"no-token", Mode::kNoToken},
    {"no-code", Mode::kNoCode},
    {"cut-token", Mode::kCutToken},
    {"stall", Mode::kStall},
    {"close-mid-upload", Mode::kCloseMidUpload},
    {"huge-answer", Mode::kHugeAnswer},
    {"upload-error", Mode::kUploadError},
    {"upload-no-answer", Mode::kUploadNoAnswer},
    {"notifier-huge", Mode::kNotifierHuge},
    {"notifier-trickle", Mode::kNotifierTrickle},
};

struct Options {
  int port = 0;
  int notifierPort = -1;
  fs::path store;
  Mode mode = Mode::kOk;
  std::string key = kNotifierKey;
  long long toleranceMs = 60000;
  size_t hugeBytes = size_t{64} << 20;
  long long throttle = 0;  // bytes a second the upload is read at; 0: as fast as it comes
  std::map<std::string, std::string> users;
  std::string tlsCert;
  std::string tlsKey;
};

// What the handlers share; every member but the options is guarded by `mutex`.
struct State {
  Options options;
  std::mutex mutex;
  std::condition_variable stopped;
  bool stopping = false;
  std::set<std::string> tokens;
  int jobs = 0;
};

constexpr size_t kMaxTextPart = 1 << 20;
constexpr size_t kAnswerBlock = 64 * 1024;
constexpr auto kStallLimit = std::chrono::minutes(10);
// Just inside a client's read time-out, so only a bound on the whole exchange ends it.
constexpr auto kTrickleGap = std::chrono::seconds(8);

// ---- command line

bool parseNumber(const std::string& text, long long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 18) {
    return false;
  }
  value = std::stoll(text);
  return true;
}

bool setPort(const std::string& text, int& port) {
  long long value = 0;
  if (!parseNumber(text, value) || value > 65535) {
    return false;
  }
  port = static_cast<int>(value);
  return true;
}

bool addUser(const std::string& text, Options& options) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) {
    return false;
  }
  options.users[text.substr(0, colon)] = text.substr(colon + 1);
  return true;
}

bool setMode(const std::string& text, Options& options) {
  auto found = kModes.find(text);
  if (found == kModes.end()) {
    return false;
  }
  options.mode = found->second;
  return true;
}

using FlagSetter = std::function<bool(const std::string&, Options&)>;

const std::map<std::string, FlagSetter> kValueFlags = {
    {"--port", [](const std::string& v, Options& o) { return setPort(v, o.port); }},
    {"--notifier-port",
     [](const std::string& v, Options& o) { return setPort(v, o.notifierPort); }},
    {"--user", addUser},
    {"--store",
     [](const std::string& v, Options& o) {
       o.store = v;
       return !v.empty();
     }},
    {"--mode", setMode},
    {"--key",
     [](const std::string& v, Options& o) {
       o.key = v;
       return true;
     }},
    {"--tolerance-ms",
     [](const std::string& v, Options& o) { return parseNumber(v, o.toleranceMs); }},
    {"--huge-bytes",
     [](const std::string& v, Options& o) {
       long long bytes = 0;
       o.hugeBytes = parseNumber(v, bytes) ? static_cast<size_t>(bytes) : 0;
       return bytes > 0;
     }},
    {"--throttle",
     [](const std::string& v, Options& o) { return parseNumber(v, o.throttle) && o.throttle > 0; }},
    {"--tls-cert",
     [](const std::string& v, Options& o) {
       o.tlsCert = v;
       return true;
     }},
    {"--tls-key",
     [](const std::string& v, Options& o) {
       o.tlsKey = v;
       return true;
     }},
};

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    if (flag == "--notifier") {
      options.notifierPort = kNotifierPort;
      continue;
    }
    auto found = kValueFlags.find(flag);
    if (found == kValueFlags.end() || i + 1 >= argc || !found->second(argv[++i], options)) {
      std::cerr << "print-server: bad or incomplete option " << flag << "\n";
      return false;
    }
  }
  if (options.store.empty() || options.tlsCert.empty() != options.tlsKey.empty()) {
    std::cerr << "print-server: --store is required; --tls-cert and --tls-key go together\n";
    return false;
  }
  return true;
}

// ---- helpers

std::string randomToken() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::random_device device;
  std::string token;
  for (int i = 0; i < 32; ++i) {
    token += kHex[device() & 0x0f];
  }
  return token;
}

void answerJson(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

// Holds the request until the server stops (or a long while passes): the client's time-outs
// must end the exchange.
void stall(State& state) {
  std::unique_lock lock(state.mutex);
  state.stopped.wait_for(lock, kStallLimit, [&] { return state.stopping; });
}

void answerHuge(httplib::Response& res, size_t total) {
  res.set_chunked_content_provider(
      "text/plain", [total, sent = size_t{0}](size_t, httplib::DataSink& sink) mutable {
        if (sent >= total) {
          sink.done();
          return true;
        }
        std::string block(std::min(kAnswerBlock, total - sent), 'x');
        sent += block.size();
        return sink.write(block.data(), block.size());
      });
}

void appendLine(const fs::path& file, const std::string& line) {
  std::ofstream out(file, std::ios::app | std::ios::binary);
  out << line << '\n';
}

// ---- login

struct CannedAnswer {
  Mode mode;
  int status;
  const char* contentType;
  const char* body;
};

const CannedAnswer kLoginAnswers[] = {
    {Mode::kRefuse, 200, "application/json", R"({"code":"02","msg":"login refused"})"},
    {Mode::kHtmlBarcode, 500, "text/html",
     "<html><head><title>500</title></head><body><h1>Internal error</h1>"
     "<p>The barcode service is unavailable.</p></body></html>"},
    {Mode::kNumericCode, 200, "application/json", R"({"code":1,"token":"t"})"},
    {Mode::kNoToken, 200, "application/json", R"({"code":"01","msg":"welcome"})"},
    {Mode::kNoCode, 200, "application/json", R"({"msg":"denied"})"},
    {Mode::kCutToken, 200, "application/json", R"({"code":"01","token":"5ecret-t0ken)"},
};

bool credentialsMatch(const State& state, const httplib::Request& req) {
  auto user = state.options.users.find(req.get_param_value("username"));
  return user != state.options.users.end() && req.has_param("pwd") &&
         user->second == req.get_param_value("pwd") && req.get_param_value("mac") == "00";
}

void answerLogin(State& state, const httplib::Request& req, httplib::Response& res) {
  if (!credentialsMatch(state, req)) {
    answerJson(res, 200, {{"code", "02"}, {"msg", "wrong user name or password"}});
    return;
  }
  std::string token = randomToken();
  {
    std::lock_guard lock(state.mutex);
    state.tokens.insert(token);
  }
  answerJson(res, 200, {{"code", "01"}, {"token", token}});
}

void handleLogin(State& state, const httplib::Request& req, httplib::Response& res) {
  Mode mode = state.options.mode;
  if (mode == Mode::kStall) {
    stall(state);
    return;
  }
  if (mode == Mode::kHugeAnswer) {
    answerHuge(res, state.options.hugeBytes);
    return;
  }
  for (const CannedAnswer& canned : kLoginAnswers) {
    if (canned.mode == mode) {
      res.status = canned.status;
      res.set_content(canned.body, canned.contentType);
      return;
    }
  }
  answerLogin(state, req, res);
}

// ---- upload

struct FormPart {
  std::string name;
  std::string fileName;
  std::string contentType;
  std::string text;
};

struct Upload {
  fs::path dir;
  std::vector<FormPart> parts;
  std::ofstream file;
  size_t fileBytes = 0;
  bool textTooLong = false;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  size_t bytesRead = 0;
};

// The text parts kept beside the file, each in a file of its name.
const std::set<std::string> kTextParts = {"token", "printProperties"};

// The sent file name as a plain name inside the job's folder, clear of the records kept there.
std::string storedName(const std::string& sent) {
  std::string name = fs::path(sent).filename().string();
  bool reserved =
      name.empty() || name == "." || name == ".." || name == "form" || kTextParts.count(name) > 0;
  return reserved ? "uploadfile" : name;
}

bool startPart(State& state, Upload& upload, const httplib::MultipartFormData& header) {
  upload.parts.push_back({header.name, header.filename, header.content_type, ""});
  upload.file.close();
  if (header.filename.empty()) {
    return true;
  }
  if (state.options.mode == Mode::kCloseMidUpload) {
    std::_Exit(3);
  }
  upload.file.open(upload.dir / storedName(header.filename), std::ios::binary | std::ios::trunc);
  return upload.file.is_open();
}

bool receivePart(Upload& upload, const char* data, size_t length) {
  FormPart& part = upload.parts.back();
  if (!part.fileName.empty()) {
    upload.file.write(data, static_cast<std::streamsize>(length));
    upload.fileBytes += length;
    return upload.file.good();
  }
  if (part.text.size() + length > kMaxTextPart) {
    upload.textTooLong = true;
    return false;
  }
  part.text.append(data, length);
  return true;
}

// Holds the reading back to the throttle's rate, if one is set; false once the server stops.
bool keepPace(State& state, Upload& upload, size_t length) {
  if (state.options.throttle == 0) {
    return true;
  }
  upload.bytesRead += length;
  auto due = upload.started +
             std::chrono::microseconds(upload.bytesRead * 1000000 / state.options.throttle);
  std::unique_lock lock(state.mutex);
  return !state.stopped.wait_until(lock, due, [&] { return state.stopping; });
}

const FormPart* findPart(const Upload& upload, const std::string& name) {
  for (const FormPart& part : upload.parts) {
    if (part.name == name) {
      return &part;
    }
  }
  return nullptr;
}

bool tokenIssued(State& state, const FormPart* token) {
  std::lock_guard lock(state.mutex);
  return token != nullptr && state.tokens.count(token->text) > 0;
}

void writeText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

void keepUpload(const Upload& upload) {
  std::string form;
  for (const FormPart& part : upload.parts) {
    form += part.name + '\t' + part.fileName + '\t' + part.contentType + '\n';
    if (part.fileName.empty() && kTextParts.count(part.name) > 0) {
      writeText(upload.dir / part.name, part.text);
    }
  }
  writeText(upload.dir / "form", form);
}

fs::path newJobDir(State& state) {
  std::lock_guard lock(state.mutex);
  fs::path dir = state.options.store / ("job-" + std::to_string(++state.jobs));
  fs::create_directories(dir);
  return dir;
}

void finishUpload(State& state, Upload& upload, httplib::Response& res) {
  const FormPart* file = findPart(upload, "uploadfile");
  if (!tokenIssued(state, findPart(upload, "token"))) {
    fs::remove_all(upload.dir);
    answerJson(res, 401, {{"code", "03"}, {"msg", "invalid token"}});
    return;
  }
  if (file == nullptr || file->fileName.empty() || findPart(upload, "printProperties") == nullptr) {
    fs::remove_all(upload.dir);
    answerJson(res, 400, {{"code", "04"}, {"msg", "incomplete form"}});
    return;
  }
  keepUpload(upload);
  answerJson(res, 200,
             {{"code", "00"},
              {"msg", "ok"},
              {"job", upload.dir.filename().string()},
              {"bytes", upload.fileBytes}});
}

void handleUpload(State& state, const httplib::Request& req, httplib::Response& res,
                  const httplib::ContentReader& reader) {
  if (state.options.mode == Mode::kStall) {
    stall(state);
    return;
  }
  if (!req.is_multipart_form_data()) {
    answerJson(res, 400, {{"code", "04"}, {"msg", "not a multipart form"}});
    return;
  }
  Upload upload;
  upload.dir = newJobDir(state);
  bool read = reader(
      [&](const httplib::MultipartFormData& header) { return startPart(state, upload, header); },
      [&](const char* data, size_t length) {
        return receivePart(upload, data, length) && keepPace(state, upload, length);
      });
  upload.file.close();
  if (read && state.options.mode == Mode::kUploadNoAnswer) {
    fs::remove_all(upload.dir);
    stall(state);
    return;
  }
  if (read && state.options.mode == Mode::kHugeAnswer) {
    fs::remove_all(upload.dir);
    answerHuge(res, state.options.hugeBytes);
    return;
  }
  if (!read || state.options.mode == Mode::kUploadError) {
    fs::remove_all(upload.dir);
    answerJson(res, 500,
               {{"code", "99"}, {"msg", upload.textTooLong ? "part too long" : "storage failure"}});
    return;
  }
  finishUpload(state, upload, res);
}

// ---- notifier

long long nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Why the message is refused, or empty when it is accepted.
std::string checkSignature(State& state, const httplib::Request& req) {
  std::string ts = req.get_header_value("x-auth-ts");
  std::string nonce = req.get_header_value("x-auth-nonce");
  long long stamp = 0;
  if (!parseNumber(ts, stamp) || ts[0] == '0') {
    return "bad time stamp";
  }
  if (std::llabs(nowMs() - stamp) > state.options.toleranceMs) {
    return "time stamp out of tolerance";
  }
  // No replay check: the nonce follows from the time stamp alone, so two jobs that fail in the
  // same millisecond send the same one, and both messages are real.
  if (nonce != sha256(state.options.key + ts)) {
    return "bad nonce";
  }
  return "";
}

std::string checkBody(const httplib::Request& req) {
  if (req.get_header_value("Content-Type") != "application/json") {
    return "not json";
  }
  nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
  if (!body.is_object() || body.value("messageId", nlohmann::json()) != "UploadJob" ||
      !body.contains("content") || !body["content"].is_string()) {
    return "bad body";
  }
  return "";
}

void handleNotify(State& state, const httplib::Request& req, httplib::Response& res) {
  std::string reason = checkBody(req);
  if (reason.empty()) {
    reason = checkSignature(state, req);
  }
  std::lock_guard lock(state.mutex);
  if (!reason.empty()) {
    appendLine(state.options.store / "notifications-refused.log",
               reason + '\t' + nlohmann::json(req.body).dump());
    answerJson(res, 401, {{"code", "1"}, {"msg", reason}});
    return;
  }
  appendLine(state.options.store / "notifications.log", nlohmann::json::parse(req.body).dump());
  if (state.options.mode == Mode::kNotifierHuge) {
    answerHuge(res, state.options.hugeBytes);
    return;
  }
  answerJson(res, 200, {{"code", "0"}, {"msg", "ok"}});
}

// ---- a notifier that trickles: a raw socket, since the HTTP server writes its headers at once

constexpr char kTrickledAnswer[] =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 23\r\n\r\n"
    "{\"code\":\"0\",\"msg\":\"ok\"}";

// A socket listening on 127.0.0.1:port (0: any free port), or -1; `port` gets the port bound.
int listenLoopback(int& port) {
  int fd = SocketCloexec(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t size = sizeof address;
  // As the HTTP server binds: its connections left in TIME_WAIT would hold the port otherwise.
  int reuse = 1;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &reuse, sizeof reuse) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (fd >= 0) {
      close(fd);
    }
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool stopping(State& state) {
  std::lock_guard lock(state.mutex);
  return state.stopping;
}

// Whether the client is still there (the request it sent is read and dropped on the way).
bool clientStays(int fd) {
  char dropped[4096];
  ssize_t got;
  while ((got = recv(fd, dropped, sizeof dropped, MSG_DONTWAIT)) > 0) {
  }
  return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

// Answers each connection in turn a byte at a time, until the client leaves or the server stops.
void trickleAnswers(State& state, int listener) {
  pollfd wait{listener, POLLIN, 0};
  while (!stopping(state)) {
    if (poll(&wait, 1, 100) <= 0) {
      continue;
    }
    int fd = AcceptCloexec(listener);
    // SIGPIPE is ignored (main): a client that left makes send fail with EPIPE.
    for (const char* byte = kTrickledAnswer; fd >= 0 && *byte != '\0'; ++byte) {
      if (!clientStays(fd) || send(fd, byte, 1, 0) != 1) {
        break;
      }
      std::unique_lock lock(state.mutex);
      if (state.stopped.wait_for(lock, kTrickleGap, [&] { return state.stopping; })) {
        break;
      }
    }
    if (fd >= 0) {
      close(fd);
    }
  }
}

// ---- running

std::unique_ptr<httplib::Server> makeServer(const Options& options) {
  if (options.tlsCert.empty()) {
    return std::make_unique<httplib::Server>();
  }
  return std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
}

// Binds to 127.0.0.1 only; returns the port, or -1.
int bindLoopback(httplib::Server& server, int port) {
  if (!server.is_valid()) {
    return -1;
  }
  if (port == 0) {
    return server.bind_to_any_port("127.0.0.1");
  }
  return server.bind_to_port("127.0.0.1", port) ? port : -1;
}

// Binds the notifier's port: the HTTP server's, or a raw socket (`raw`) for the trickling notifier.
// The port, or -1.
int bindNotifier(const Options& options, httplib::Server& notifier, int& raw) {
  int port = options.notifierPort;
  if (options.mode != Mode::kNotifierTrickle) {
    return bindLoopback(notifier, port);
  }
  raw = listenLoopback(port);
  return raw < 0 ? -1 : port;
}

void route(State& state, httplib::Server& printServer, httplib::Server& notifier) {
  printServer.Get(
      "/quoradex/printservice/authbyuserpwd2",
      [&](const httplib::Request& req, httplib::Response& res) { handleLogin(state, req, res); });
  printServer.Post(
      "/quoradex/printservice/fileupload",
      [&](const httplib::Request& req, httplib::Response& res,
          const httplib::ContentReader& reader) { handleUpload(state, req, res, reader); });
  notifier.Post("/localNotify2", [&](const httplib::Request& req, httplib::Response& res) {
    handleNotify(state, req, res);
  });
}

void waitForStopSignal() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  int received = 0;
  sigwait(&signals, &received);
}

void blockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void waitUntilRunning(const httplib::Server& server) {
  while (!server.is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int serve(State& state) {
  std::unique_ptr<httplib::Server> printServer = makeServer(state.options);
  httplib::Server notifier;
  route(state, *printServer, notifier);
  int port = bindLoopback(*printServer, state.options.port);
  int rawNotifier = -1;
  int notifierPort =
      state.options.notifierPort < 0 ? -1 : bindNotifier(state.options, notifier, rawNotifier);
  if (port < 0 || (state.options.notifierPort >= 0 && notifierPort < 0)) {
    std::cerr << "print-server: cannot listen on 127.0.0.1\n";
    return 1;
  }
  std::thread printThread([&] { printServer->listen_after_bind(); });
  std::thread notifierThread([&] {
    if (rawNotifier >= 0) {
      trickleAnswers(state, rawNotifier);
    } else if (notifierPort >= 0) {
      notifier.listen_after_bind();
    }
  });
  // A stop before the listeners run would be lost and leave the threads serving.
  waitUntilRunning(*printServer);
  if (notifierPort >= 0 && rawNotifier < 0) {
    waitUntilRunning(notifier);
  }
  std::cout << "listening port=" << port << " notifier=" << notifierPort << std::endl;
  waitForStopSignal();
  {
    std::lock_guard lock(state.mutex);
    state.stopping = true;
  }
  state.stopped.notify_all();
  printServer->stop();
  notifier.stop();
  printThread.join();
  notifierThread.join();
  if (rawNotifier >= 0) {
    close(rawNotifier);
  }
  return 0;
}

}  // namespace

}  // namespace vp

using namespace vp;

int main(int argc, char** argv) {
  State state;
  if (!parseOptions(argc, argv, state.options)) {
    return 2;
  }
  std::error_code error;
  fs::create_directories(state.options.store, error);
  blockStopSignals();
  return serve(state);
}
