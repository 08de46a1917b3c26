#include "tools/check/report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "util/safe_text.h"

namespace vp {

namespace {

int Count(const Report& report, Status status) {
  int count = 0;
  for (const CheckLine& line : report)
    count += line.status == status ? 1 : 0;
  return count;
}

std::string Plural(int count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

CheckLine Ok(const std::string& name, const std::string& detail) {
  return {name, Status::kOk, detail, ""};
}

CheckLine Warn(const std::string& name, const std::string& detail, const std::string& advice) {
  return {name, Status::kWarn, detail, advice};
}

CheckLine Fail(const std::string& name, const std::string& detail, const std::string& advice) {
  return {name, Status::kFail, detail, advice};
}

const char* StatusWord(Status status) {
  switch (status) {
    case Status::kOk:
      return "ok";
    case Status::kWarn:
      return "warn";
    case Status::kFail:
      return "FAIL";
  }
  return "FAIL";
}

std::string ReportText(const Report& report) {
  std::string text;
  for (const CheckLine& line : report) {
    char status[8];
    std::snprintf(status, sizeof status, "%-5s", StatusWord(line.status));
    // Details quote what others wrote (a server's answer, a process's name, a queue's device): as
    // escapes, it can neither fake report lines nor command the terminal.
    text +=
        status + EscapedControlCharacters(line.name) + ": " + EscapedControlCharacters(line.detail);
    if (!line.advice.empty())
      text += " -> " + EscapedControlCharacters(line.advice);
    text += '\n';
  }
  text += Plural(Count(report, Status::kFail), "check") + " failed, " +
          Plural(Count(report, Status::kWarn), "warning") + "\n";
  return text;
}

std::string ReportJson(const Report& report) {
  nlohmann::json checks = nlohmann::json::array();
  for (const CheckLine& line : report) {
    checks.push_back({{"name", line.name},
                      {"status", StatusWord(line.status)},
                      {"detail", line.detail},
                      {"advice", line.advice}});
  }
  nlohmann::json all = {{"checks", checks},
                        {"warnings", Count(report, Status::kWarn)},
                        {"failed", Count(report, Status::kFail)},
                        {"exit", ReportExitStatus(report)}};
  // Settings and answers may hold bytes that are not UTF-8; they must not stop the report.
  return all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int ReportExitStatus(const Report& report) {
  return Count(report, Status::kFail) == 0 ? 0 : 1;
}

std::string HumanBytes(unsigned long long bytes) {
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
  if (bytes < 1000)
    return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  int unit = -1;
  while (value >= 1000 && unit < 3) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string HumanAge(long long seconds) {
  if (seconds < 0)
    seconds = 0;
  if (seconds < 60)
    return "under a minute";
  if (seconds < 2 * 3600)
    return Plural(static_cast<int>(seconds / 60), "minute");
  if (seconds < 2 * 86400)
    return Plural(static_cast<int>(seconds / 3600), "hour");
  return Plural(static_cast<int>(seconds / 86400), "day");
}

}  // namespace vp
