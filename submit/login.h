#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <ostream>
#include <string>

// Logs in with the user's credentials. Returns the response body when the server answered (any
// HTTP status), otherwise libcurl's result code in decimal. With `connected`, also tells whether a
// connection to the server was made.
std::string authByUserName(std::ostream& log, const std::string& serverIp,
                           const std::string& userName, const std::string& password,
                           bool* connected = nullptr);

// GET of the address; appends the body to `response`. Returns libcurl's result code (0: done).
// With `connected`, also tells whether the connection was made (false when nothing was sent).
int get(const std::string& url, std::string& response, bool* connected = nullptr);

// Whether a request that failed with this libcurl result never reached the server: no connection
// was made because its name (or its proxy's) was not found, the connection was refused or had no
// route, or the time ran out. A server that answers, refuses the login or breaks off was reached.
bool ServerUnreachable(int curlResult, bool connected);

// libcurl write callback of `get`: appends the received bytes to the std::string behind `target`.
size_t WriteCallback(void* contents, size_t size, size_t count, void* target);

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
