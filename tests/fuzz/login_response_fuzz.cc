// The submission sequence on any login answer. A server in this process answers the login with
// the input and takes the upload; SubmitJob runs for real (settings through this build's "plutil",
// login and upload over loopback, the notifier port of the machine). The exit status must be the
// one the answer calls for: 0 uploaded, 2 refused, 4 anything else.

#include <httplib.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "backend/run_end.h"
#include "submit/submission.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/paths.h"

namespace vp {

namespace {

constexpr char kDataFile[] = "fuzz-job.ps";

std::mutex answerMutex;
std::string answer;

void SetAnswer(const std::string& text) {
  std::lock_guard lock(answerMutex);
  answer = text;
}

std::string Answer() {
  std::lock_guard lock(answerMutex);
  return answer;
}

// The login is answered with the input; uploads are read to their end and accepted.
int StartServer() {
  static httplib::Server server;
  server.Get("/quoradex/printservice/authbyuserpwd2",
             [](const httplib::Request&, httplib::Response& res) {
               res.set_content(Answer(), "application/json");
             });
  server.Post(
      "/quoradex/printservice/fileupload",
      [](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& reader) {
        reader([](const char*, size_t) { return true; });
        res.set_content("{\"code\":\"00\"}", "application/json");
      });
  int port = server.bind_to_any_port("127.0.0.1");
  std::thread([] { server.listen_after_bind(); }).detach();
  return port;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The listing plutil would print for settings naming the server in this process.
std::string Listing(int port) {
  return "{\n  \"quoradex\" => {\n    \"PassWord2\" => \"pw\"\n    \"ServerIp\" => \"127.0.0.1:" +
         std::to_string(port) + "\"\n    \"UserName\" => \"fuzz\"\n  }\n}\n";
}

int ExpectedStatus(const std::string& text) {
  if (text.find("code") == std::string::npos)
    return 4;
  nlohmann::json reply = nlohmann::json::parse(text, nullptr, false);
  if (reply.is_discarded() || !reply.is_object())
    return 4;
  auto code = reply.find("code");
  if (code == reply.end() || !code->is_string())
    return 4;
  if (*code != "01")
    return 2;
  auto token = reply.find("token");
  return token != reply.end() && token->is_string() ? 0 : 4;
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  mkdir(paths::kLogDir, 0755);
  WriteFile(std::string(paths::kLogDir) + kDataFile, "%!PS\n%%Pages: 1\nshowpage\n");
  WriteFile(paths::kSettingsFile, Listing(StartServer()));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  SetAnswer(text);
  JobInfo job;
  job.documentName = "fuzz";
  std::ostringstream log;
  const Outcome sent = SubmitJob(log, FixedJobFiles(), FixedSettingsFiles(), job, kDataFile);
  int status = EndRun(QueueStatus{}, sent, job);
  TellNotifier(log, sent, "fuzz-job");
  Require(status == ExpectedStatus(text), "the exit status follows the login answer");
  return 0;
}
