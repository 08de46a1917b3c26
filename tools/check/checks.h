#pragma once

#include <string>

#include "tools/check/report.h"

namespace vp {

struct CheckOptions {
  bool login = false;  // also send the real login request
};

// Every check of the installation, in the order a job meets what it checks: the client's
// settings, the programs the backend runs, the backend in CUPS and its queues, the log folder, the
// server, the notifier and CUPS's log level.
Report RunChecks(const CheckOptions& options);

// The scheduler, the device listing and the queues whose device is virtual-printer:, through
// libcups (cups_checks.cc).
void CheckScheduler(Report& report);

// How the backend will read a ServerIp setting.
enum class AddressForm {
  kHost,           // host or host:port
  kBracketedIpv6,  // [IPv6] or [IPv6]:port
  kHttps,          // a base address beginning with https://, used as it is
  kBareIpv6,       // an IPv6 address without brackets: its colons read as a port
  kHttpPrefix,     // http://...: the backend puts another http:// before it
  kOther,
};
AddressForm ServerIpForm(const std::string& serverIp);

// The value of the last LogLevel line of a cupsd.conf text, in lower case; empty when none.
std::string LogLevelOf(const std::string& cupsdConf);

// The PATH CUPS gives a backend: its filter folder, /usr/bin, /usr/sbin, /bin.
std::string BackendSearchPath();

}  // namespace vp
