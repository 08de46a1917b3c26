// virtual-printer-check: tells an administrator whether jobs will print through the backend on
// this machine, and removes old job files from the log folder. The backend itself never deletes
// anything, so retention lives here.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "tools/check/check_paths.h"
#include "tools/check/checks.h"
#include "tools/check/clean.h"
#include "util/paths.h"

namespace vp {

namespace {

constexpr int kUsage = 2;

// Where the clean's days may be set instead of on the command line: the macOS preferences domain,
// managed file first. Empty where the build has none (Linux: the days come from the timer).
std::vector<std::string> PreferenceFiles() {
  std::vector<std::string> files;
  for (const char* file : {check_paths::kManagedPreferences, check_paths::kPreferences}) {
    if (*file != '\0')
      files.emplace_back(file);
  }
  return files;
}

std::string UsageText() {
  return std::string("usage: virtual-printer-check [--json] [--login]\n") +
         (PreferenceFiles().empty() ? "       virtual-printer-check --clean DAYS [--dry-run]\n"
                                    : "       virtual-printer-check --clean [DAYS] [--dry-run]\n");
}

struct Arguments {
  bool json = false;
  bool login = false;
  bool clean = false;
  bool dryRun = false;
  int days = -1;
};

bool Parse(const std::vector<std::string>& words, Arguments& arguments) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--json") {
      arguments.json = true;
    } else if (word == "--login") {
      arguments.login = true;
    } else if (word == "--dry-run") {
      arguments.dryRun = true;
    } else if (word == "--clean" && !arguments.clean) {
      arguments.clean = true;
      // Without DAYS the preferences set them, where this build has a preferences domain.
      bool daysGiven = i + 1 < words.size() && !words[i + 1].starts_with("--");
      if (daysGiven ? !ParseCleanDays(words[++i], arguments.days) : PreferenceFiles().empty())
        return false;
    } else {
      return false;
    }
  }
  // A clean says what it removes in lines of its own; the checks have no dry run.
  return arguments.clean ? !arguments.json && !arguments.login : !arguments.dryRun;
}

int Clean(const Arguments& arguments) {
  int days = arguments.days;
  if (days < 0) {
    ConfiguredDays configured = CleanDaysFromPreferences(PreferenceFiles());
    std::fprintf(configured.ok ? stdout : stderr, "%s\n", configured.line.c_str());
    if (configured.days < 0)
      return configured.ok ? 0 : 1;
    days = configured.days;
  }
  CleanOutcome outcome = CleanJobFiles(FixedJobFiles(), days, arguments.dryRun, std::time(nullptr));
  for (const std::string& line : outcome.lines)
    std::printf("%s\n", line.c_str());
  return outcome.ok ? 0 : 1;
}

}  // namespace

}  // namespace vp

using namespace vp;

int main(int argc, char* argv[]) {
  Arguments arguments;
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (!Parse(std::vector<std::string>(argv + 1, argv + argc), arguments)) {
    std::fputs(UsageText().c_str(), stderr);
    return kUsage;
  }
  if (arguments.clean)
    return Clean(arguments);
  Report report = RunChecks(CheckOptions{arguments.login});
  std::string text = arguments.json ? ReportJson(report) : ReportText(report);
  std::fputs(text.c_str(), stdout);
  return ReportExitStatus(report);
}
