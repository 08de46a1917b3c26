#pragma once

#include <ostream>
#include <string>

namespace vp {

// Per-queue switches an administrator sets in the query of the queue's device URI, as CUPS's own
// backends take theirs ("virtual-printer:/?status=on").
struct DeviceOptions {
  bool statusLines = false;  // tell the scheduler how the submission goes (status=on)
  int waitSeconds = 0;       // how long a job waits for a server that cannot be reached (wait=N)
};

// The longest wait a queue may ask for (30 days); a larger value is ignored like any unknown one.
constexpr int kMaxWaitSeconds = 30 * 86400;

// Reads the query after '?': name=value pairs joined by '&' or '+'. Names and values the backend
// does not know are logged and ignored; without a query every option keeps its default.
DeviceOptions ReadDeviceOptions(std::ostream& log, const std::string& deviceUri);

// The device URI through libcups (DEVICE_URI, else argv[0]; empty when neither is one). libcups
// keeps only its first 1023 bytes and drops the rest without a word, options included: the job
// log then says so.
std::string ReadDeviceUri(std::ostream& log, char* argv[]);

}  // namespace vp
