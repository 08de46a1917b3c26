#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <ostream>
#include <string>

namespace vp {

// What came of a login request.
struct LoginAnswer {
  bool answered = false;   // the server sent an answer, with any HTTP status
  std::string body;        // the answer, when one came
  int curlResult = 0;      // libcurl's result, when none came
  bool connected = false;  // a connection to the server was made
};

// Logs in with the user's credentials, writing the address (password masked) and the answer
// (tokens masked) or libcurl's result to the job log.
LoginAnswer authByUserName(std::ostream& log, const std::string& serverIp,
                           const std::string& userName, const std::string& password);

// GET of the login address (nothing is sent to an empty server address, whose path libcurl would
// read as a host).
LoginAnswer FetchLoginAnswer(const std::string& url);

// The code of an accepted login.
inline constexpr char kLoginAccepted[] = "01";

enum class LoginVerdict {
  kAccepted,     // "code" "01" and a token
  kRefused,      // another code
  kUnreadable,   // an answer without a code or a token the backend can read
  kUnreachable,  // no answer
};

struct LoginJudgement {
  LoginVerdict verdict = LoginVerdict::kUnreachable;
  std::string code;   // the server's code, when it gave one as text
  std::string token;  // when accepted
  // When an answer that names "code" cannot be read as the backend reads it: the JSON library's
  // words (its parse, type or missing-key error). Empty for an answer that never names "code".
  std::string error;
};

// The one reading of a login answer, the backend's and the check's.
LoginJudgement JudgeLogin(const LoginAnswer& answer);

// Whether a request that failed with this libcurl result never reached the server: no connection
// was made because its name (or its proxy's) was not found, the connection was refused or had no
// route, or the time ran out. A server that answers, refuses the login or breaks off was reached.
bool ServerUnreachable(int curlResult, bool connected);

// libcurl write callback of the login: appends the received bytes to the std::string behind
// `target`, up to a bound.
size_t AppendLoginAnswer(void* contents, size_t size, size_t count, void* target);

// Query-string form of a value: every byte but the unreserved ones (letters, digits, "-._~")
// as %XX.
std::string percentEncode(const std::string& text);

// The login answer with the value of every "token" member replaced by ***, for the job log; a
// value cut off by the end of the text is masked to that end.
std::string maskTokens(const std::string& answer);

// A piece of libcurl's verbose trace as libcurl writes it ("* " text, "> " header out, "< " header
// in, nothing for data), with the values of "pwd=", "token=", "token" members and Basic
// credentials as ***; control characters of a remark or a received header become blanks.
std::string TraceText(curl_infotype type, const std::string& text);

// The login address for the given server and credentials (used as given).
std::string loginAddress(const std::string& serverIp, const std::string& userName,
                         const std::string& password);

}  // namespace vp
