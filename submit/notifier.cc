#include "submit/notifier.h"

#include <algorithm>
#include <future>
#include <system_error>

#include "submit/sha256.h"

namespace vp {

namespace {

// The notifier answers with a few words; beyond this its answer is read and dropped, so a listener
// that sends without end cannot fill memory.
constexpr size_t kMaxAnswerKept = 4096;

// stop() finds nothing to end before the request has its socket, so it is given again until the
// request is over.
constexpr auto kStopAgain = std::chrono::milliseconds(50);

httplib::Request notifyRequest(const std::string& key, const std::string& content,
                               std::string& kept) {
  std::string timestamp = notifyTimestamp();
  httplib::Request request;
  request.method = "POST";
  request.path = "/localNotify2";
  request.headers = {{"x-auth-nonce", notifyNonce(key, timestamp)},
                     {"x-auth-ts", timestamp},
                     {"Content-Type", "application/json"}};
  request.body = notifyBody(content);
  request.content_receiver = [&kept](const char* data, size_t length, uint64_t, uint64_t) {
    kept.append(data, std::min(length, kMaxAnswerKept - kept.size()));
    return true;
  };
  return request;
}

}  // namespace

std::string notifyTimestamp() {
  auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count();
  return std::to_string(micros / 1000);
}

std::string notifyNonce(const std::string& key, const std::string& timestamp) {
  return sha256(key + timestamp);
}

std::string notifyBody(const std::string& content) {
  return "{\"messageId\":\"UploadJob\",\"content\":\"" + content + "\"}";
}

httplib::Result NotifyWithin(const std::string& host, int port, const std::string& key,
                             const std::string& content, std::chrono::milliseconds limit) {
  httplib::Client client(host, port);
  // The job must not wait on a notifier that is not there.
  client.set_connection_timeout(0, 300000);
  client.set_read_timeout(10, 0);
  std::string kept;
  httplib::Request request = notifyRequest(key, content, kept);
  // The read time-out holds only between two reads: a listener that sends a byte now and then, or
  // never stops sending, would hold the job. The request runs aside and is stopped at the limit.
  std::future<httplib::Result> answer;
  try {
    answer = std::async(std::launch::async, [&] { return client.send(request); });
  } catch (const std::system_error&) {
    return httplib::Result(nullptr, httplib::Error::Unknown);
  }
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (answer.wait_until(deadline) != std::future_status::ready) {
    // The client's thread-safe way to end a request in flight.
    client.stop();
    deadline = std::chrono::steady_clock::now() + kStopAgain;
  }
  httplib::Result result = answer.get();
  client.stop();
  if (result)
    result->body = std::move(kept);
  return result;
}

httplib::Result notify(const std::string& host, int port, const std::string& key,
                       const std::string& content) {
  return NotifyWithin(host, port, key, content, kNotifyLimit);
}

}  // namespace vp
