// virtual-printer-check: tells an administrator whether jobs will print through the backend on
// this machine, and removes old job files from the log folder. The backend itself never deletes
// anything, so retention lives here.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "tools/check/checks.h"
#include "tools/check/clean.h"
#include "util/paths.h"

namespace {

constexpr int kUsage = 2;
constexpr int kMaxDays = 36500;

constexpr char kUsageText[] =
    "usage: virtual-printer-check [--json] [--login]\n"
    "       virtual-printer-check --clean DAYS [--dry-run]\n";

struct Arguments {
  bool json = false;
  bool login = false;
  bool clean = false;
  bool dryRun = false;
  int days = -1;
};

bool ParseDays(const std::string& text, int& days) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  days = std::atoi(text.c_str());
  return days <= kMaxDays;
}

bool Parse(const std::vector<std::string>& words, Arguments& arguments) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--json") {
      arguments.json = true;
    } else if (word == "--login") {
      arguments.login = true;
    } else if (word == "--dry-run") {
      arguments.dryRun = true;
    } else if (word == "--clean" && i + 1 < words.size() && !arguments.clean) {
      arguments.clean = true;
      if (!ParseDays(words[++i], arguments.days))
        return false;
    } else {
      return false;
    }
  }
  // A clean says what it removes in lines of its own; the checks have no dry run.
  return arguments.clean ? !arguments.json && !arguments.login : !arguments.dryRun;
}

int Clean(const Arguments& arguments) {
  CleanOutcome outcome = CleanJobFiles(paths::kLogDir, paths::kLockDir, arguments.days,
                                       arguments.dryRun, std::time(nullptr));
  for (const std::string& line : outcome.lines)
    std::printf("%s\n", line.c_str());
  return outcome.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  Arguments arguments;
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (!Parse(std::vector<std::string>(argv + 1, argv + argc), arguments)) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  if (arguments.clean)
    return Clean(arguments);
  Report report = RunChecks(CheckOptions{arguments.login});
  std::string text = arguments.json ? ReportJson(report) : ReportText(report);
  std::fputs(text.c_str(), stdout);
  return ReportExitStatus(report);
}
