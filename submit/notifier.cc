#include "submit/notifier.h"

#include <chrono>

#include "submit/sha256.h"

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

httplib::Result notify(const std::string& host, int port, const std::string& key,
                       const std::string& content) {
  httplib::Client client(host, port);
  // The job must not wait on a notifier that is not there.
  client.set_connection_timeout(0, 300000);
  client.set_read_timeout(10, 0);
  std::string timestamp = notifyTimestamp();
  httplib::Headers headers = {{"x-auth-nonce", notifyNonce(key, timestamp)},
                              {"x-auth-ts", timestamp}};
  httplib::Result result =
      client.Post("/localNotify2", headers, notifyBody(content), "application/json");
  client.stop();
  return result;
}
