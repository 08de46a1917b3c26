#pragma once

#include <string>
#include <vector>

namespace vp {

enum class Status { kOk, kWarn, kFail };

// One line of the report: what was looked at, what was found and, unless all is well, what to do.
struct CheckLine {
  std::string name;
  Status status = Status::kOk;
  std::string detail;
  std::string advice;
};

using Report = std::vector<CheckLine>;

CheckLine Ok(const std::string& name, const std::string& detail);
CheckLine Warn(const std::string& name, const std::string& detail, const std::string& advice);
CheckLine Fail(const std::string& name, const std::string& detail, const std::string& advice);

// "ok", "warn" or "FAIL".
const char* StatusWord(Status status);

// One line per check ("FAIL  name: detail -> advice", control characters as \n, \x1b...) and a
// closing count.
std::string ReportText(const Report& report);

// The same as one JSON object: {"checks": [...], "warnings": N, "failed": N, "exit": 0 or 1}.
std::string ReportJson(const Report& report);

// 0 when nothing failed, 1 otherwise.
int ReportExitStatus(const Report& report);

// Sizes and ages for people: "512 B", "3.4 MB", "1.2 GB"; "5 minutes", "3 hours", "45 days".
std::string HumanBytes(unsigned long long bytes);
std::string HumanAge(long long seconds);

}  // namespace vp
