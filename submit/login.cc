#include "submit/login.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "submit/server_address.h"
#include "util/job_log.h"
#include "util/json_reading.h"
#include "util/safe_text.h"

namespace vp {

namespace {

constexpr long kTimeoutSeconds = 5;

// A login answer is a short JSON text. A server that streams more would otherwise fill memory for
// the whole time-out; beyond this the transfer stops with a write error.
constexpr size_t kMaxLoginAnswer = 1 << 20;

// How libcurl's verbose trace marks each kind of piece; data is left out, as libcurl does itself.
// The request's head is ours and comes as one piece of many lines; libcurl's remarks and each
// header the server sends are one line, whose text may come from the server.
struct TraceKind {
  curl_infotype type;
  const char* prefix;
  bool manyLines;
};

constexpr TraceKind kTraceKinds[] = {{CURLINFO_TEXT, "* ", false},
                                     {CURLINFO_HEADER_IN, "< ", false},
                                     {CURLINFO_HEADER_OUT, "> ", true}};

// Query and cookie fields whose value lets its holder act as the user, and the header libcurl
// makes of user information in the server address.
constexpr const char* kSecretFields[] = {"pwd=", "token=", "Authorization: Basic "};

// One line of outside text stays one line on standard error, where the scheduler reads commands.
std::string OneTraceLine(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n") + 1;
  return OnOneLine(text.substr(0, end)) + text.substr(end);
}

std::string maskFieldValues(const std::string& text) {
  std::string masked = text;
  for (const char* field : kSecretFields) {
    const std::string name = field;
    for (size_t at = masked.find(name); at != std::string::npos;
         at = masked.find(name, at + name.size())) {
      size_t value = at + name.size();
      size_t end = std::min(masked.find_first_of("&; '\"\r\n", value), masked.size());
      masked.replace(value, end - value, "***");
    }
  }
  return masked;
}

// The trace goes to standard error as libcurl would write it, which the scheduler keeps in its
// error log at debug level: the password and the token must not reach it.
int traceToStandardError(CURL*, curl_infotype type, char* data, size_t size, void*) {
  std::string line = TraceText(type, std::string(data, size));
  fwrite(line.data(), 1, line.size(), stderr);
  return 0;
}

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string maskTokens(const std::string& answer) {
  const std::string key = "\"token\"";
  std::string masked = answer;
  for (size_t at = masked.find(key); at != std::string::npos; at = masked.find(key, at + 1)) {
    size_t value = masked.find_first_not_of(" \t\r\n", at + key.size());
    if (value == std::string::npos || masked[value] != ':')
      continue;
    value = masked.find_first_not_of(" \t\r\n", value + 1);
    if (value == std::string::npos || masked[value] != '"')
      continue;
    size_t end = value + 1;
    while (end < masked.size() && masked[end] != '"')
      end += masked[end] == '\\' ? 2 : 1;
    // An answer cut off inside the value is masked to its end.
    end = std::min(end, masked.size());
    masked.replace(value + 1, end - value - 1, "***");
  }
  return masked;
}

std::string TraceText(curl_infotype type, const std::string& text) {
  for (const TraceKind& kind : kTraceKinds) {
    if (kind.type != type)
      continue;
    std::string masked = maskTokens(maskFieldValues(text));
    return kind.prefix + (kind.manyLines ? masked : OneTraceLine(masked));
  }
  return "";
}

std::string percentEncode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (isUnreserved(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0f];
    }
  }
  return encoded;
}

std::string loginAddress(const std::string& serverIp, const std::string& userName,
                         const std::string& password) {
  return serverBaseAddress(serverIp) +
         "/quoradex/printservice/authbyuserpwd2?username=" + userName + "&pwd=" + password +
         "&mac=00";
}

size_t AppendLoginAnswer(void* contents, size_t size, size_t count, void* target) {
  auto* response = static_cast<std::string*>(target);
  size_t bytes = size * count;
  if (response->size() + bytes > kMaxLoginAnswer) {
    return 0;
  }
  response->append(static_cast<const char*>(contents), bytes);
  return bytes;
}

LoginAnswer FetchLoginAnswer(const std::string& url) {
  LoginAnswer answer;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    answer.curlResult = CURLE_FAILED_INIT;
    return answer;
  }
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, traceToStandardError);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendLoginAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  SkipCertificateChecksForHttps(curl, url);
  answer.curlResult = curl_easy_perform(curl);
  answer.answered = answer.curlResult == CURLE_OK;
  if (!answer.answered)
    answer.body.clear();
  // libcurl counts only the connections it made.
  long connections = 0;
  curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connections);
  answer.connected = connections > 0;
  curl_easy_cleanup(curl);
  return answer;
}

bool ServerUnreachable(int curlResult, bool connected) {
  if (connected)
    return false;
  switch (curlResult) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
      return true;
    default:
      return false;
  }
}

LoginJudgement JudgeLogin(const LoginAnswer& answer) {
  LoginJudgement judgement;
  if (!answer.answered)
    return judgement;
  judgement.verdict = LoginVerdict::kUnreadable;
  // What does not even name the code (an HTML page, an empty answer) is not read as JSON.
  if (answer.body.find("code") == std::string::npos)
    return judgement;
  JsonReading reply = ReadJson(answer.body);
  if (!reply.ok()) {
    judgement.error = reply.error;
    return judgement;
  }
  judgement.code = StringMember(reply.value, "code", judgement.error);
  if (!judgement.error.empty())
    return judgement;
  if (judgement.code != kLoginAccepted) {
    judgement.verdict = LoginVerdict::kRefused;
    return judgement;
  }
  judgement.token = StringMember(reply.value, "token", judgement.error);
  if (judgement.error.empty())
    judgement.verdict = LoginVerdict::kAccepted;
  return judgement;
}

LoginAnswer authByUserName(std::ostream& log, const std::string& serverIp,
                           const std::string& userName, const std::string& password) {
  // Encoded so that "&", "#", "+" or a blank in a credential cannot cut or bend the query.
  std::string encodedUser = percentEncode(userName);
  std::string url = loginAddress(serverIp, encodedUser, percentEncode(password));
  // With no server set, libcurl would take the path's first word for the host and send the
  // credentials to whatever answers to that name.
  LoginAnswer answer;
  answer.curlResult = CURLE_URL_MALFORMAT;
  if (!serverIp.empty())
    answer = FetchLoginAnswer(url);
  // The job log is world-readable: the password never goes there.
  Log(log, "url:\n" + loginAddress(MaskedUserInfo(serverIp), encodedUser, "***"));
  if (answer.answered) {
    std::cout << "Request successful. Response:\n" << answer.body << std::endl;
    // The session token lets its holder print as the user: it stays out of the log too.
    Log(log, "Request successful. Response:\n" + maskTokens(answer.body));
    return answer;
  }
  std::cerr << "Request failed. Error code: " << answer.curlResult << std::endl;
  Log(log, "Request failed. Error code: " + std::to_string(answer.curlResult));
  return answer;
}

}  // namespace vp
