#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

namespace vp {

// The key shared with the notifier application; requests are signed with it.
inline constexpr char kNotifierKey[] = "9c1f07b2e4a65d38f0c2b7e91a4d60";

// Where the notifier application listens, on the user's own machine.
inline constexpr char kNotifierHost[] = "127.0.0.1";
inline constexpr int kNotifierPort = 10029;

// The longest a job waits on the notifier, from connecting to the end of the answer.
inline constexpr std::chrono::milliseconds kNotifyLimit = std::chrono::seconds(10);

// Milliseconds since the Unix epoch, in decimal: the request's time stamp.
std::string notifyTimestamp();

// The request's nonce: sha256 of the key immediately followed by the time stamp.
std::string notifyNonce(const std::string& key, const std::string& timestamp);

// The JSON body that carries the content (inserted as it is).
std::string notifyBody(const std::string& content);

// Tells the notifier application on host:port about the job (content: its UUID). Returns the
// client's result: the response when one came (its body cut to 4 KB), otherwise the connection or
// read error, also when the exchange was ended at kNotifyLimit.
httplib::Result notify(const std::string& host, int port, const std::string& key,
                       const std::string& content);

// notify, with the whole exchange ended at `limit`.
httplib::Result NotifyWithin(const std::string& host, int port, const std::string& key,
                             const std::string& content, std::chrono::milliseconds limit);

}  // namespace vp
