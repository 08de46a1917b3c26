#include "dispatch/job_summary.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "attributes/print_settings.h"
#include "util/job_log.h"
#include "util/paths.h"
#include "util/shell_quote.h"

namespace {

constexpr char kColorKey[] = "com.apple.print.PrintSettings.PMColorSpaceModel..n.";
constexpr char kDuplexKey[] = "com.apple.print.PrintSettings.PMDuplexing..n.";

// What a print-dialog setting does to the job; a value may set several fields.
struct SettingRule {
  const char* key;
  const char* value;
  std::string JobInfo::*field;
  const char* result;
};

const SettingRule kSettingRules[] = {
    {kColorKey, "2", &JobInfo::color, "Color"},
    {kColorKey, "1", &JobInfo::color, "Grayscale"},
    {kDuplexKey, "2", &JobInfo::duplex, "TwoSided"},
    {kDuplexKey, "2", &JobInfo::binding, "LONGEDGE"},
    {kDuplexKey, "3", &JobInfo::duplex, "TwoSided"},
    {kDuplexKey, "3", &JobInfo::binding, "SHORTEDGE"},
};

std::string LookUp(const OptionsMap& options, const std::string& key, const std::string& fallback) {
  auto it = options.find(key);
  return it == options.end() ? fallback : it->second;
}

// Paper names other than Letter are cut to their first two characters (A4, A3, B5...).
std::string ResolvePaper(std::ostream& log, const OptionsMap& options) {
  std::string paper = LookUp(options, "PageSize", "A4");
  if (paper.size() >= 3 && paper != "Letter") {
    Log(log, "Paper-original:", paper);
    paper.resize(2);
  }
  return paper;
}

void WriteSummaryLine(std::ostream& log, SafeOutFile& control, const std::string& key,
                      const std::string& value) {
  control << key << ':' << value << '\n' << std::flush;
  Log(log, key, value);
}

// Closes on every way out, so the child is always reaped; its exit status tells nothing the
// output does not.
struct PipeCloser {
  void operator()(FILE* pipe) const { pclose(pipe); }
};

}  // namespace

std::string executeCommand(const std::string& command) {
  std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
  if (!pipe)
    throw std::runtime_error("popen() failed!");
  std::string result;
  char buffer[128];
  while (fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    for (const char* c = buffer; *c != '\0'; ++c) {
      if (*c != '\n')
        result += *c;
    }
  }
  return result;
}

void ApplyPrintSettings(JobInfo& job, const std::string& optionsText) {
  for (const OptionPair& setting : parsePrintSettings(optionsText)) {
    std::cout << "Key: " << setting.first << ", Value: " << setting.second << std::endl;
    for (const SettingRule& rule : kSettingRules) {
      if (setting.first == rule.key && setting.second == rule.value)
        job.*rule.field = rule.result;
    }
  }
}

void CountPdfPages(std::ostream& log, JobInfo& job, const std::string& dataPath) {
  std::string command = std::string(paths::kPageCountProgram) + " " + ShellQuote(dataPath) +
                        " | grep '^Pages:' | awk '{print $2}'";
  std::string result;
  try {
    result = executeCommand(command);
  } catch (const std::runtime_error& e) {
    Log(log, std::string("Caught exception: ") + e.what());
    return;
  }
  Log(log, "parser pagecount:" + result);
  job.pages = result;
}

void WriteJobSummary(std::ostream& log, SafeOutFile& control, JobInfo& job,
                     const std::string& dataFileName, const std::string& title,
                     const OptionsMap& options, const std::string& driverModel) {
  if (!control.is_open())
    return;
  control << "DataFile:" << dataFileName << '\n' << std::flush;
  job.documentName = title;
  WriteSummaryLine(log, control, "DocumentName", job.documentName);
  WriteSummaryLine(log, control, "AllPage", job.pages);
  WriteSummaryLine(log, control, "CopyCount", job.copies);
  job.paper = ResolvePaper(log, options);
  WriteSummaryLine(log, control, "Paper", job.paper);
  WriteSummaryLine(log, control, "Color", job.color);
  WriteSummaryLine(log, control, "Duplexing", job.duplex);
  job.orientation = LookUp(options, "NupOrient", "Portrait");
  WriteSummaryLine(log, control, "PageOrientation", job.orientation);
  job.driverName = driverModel;
  WriteSummaryLine(log, control, "DriverName", job.driverName);
  control.close();
}
