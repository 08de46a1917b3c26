#include "dispatch/job_summary.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include "attributes/ppd_file.h"
#include "attributes/print_settings.h"
#include "util/job_log.h"
#include "util/paths.h"
#include "util/safe_file.h"
#include "util/safe_text.h"

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

// A standard option's value (or a PPD choice of the same meaning) and what it gives.
struct StandardValue {
  const char* value;
  const char* result;
  const char* binding;
};

const StandardValue kSides[] = {
    {"one-sided", "OneSided", ""},
    {"two-sided-long-edge", "TwoSided", "LONGEDGE"},
    {"two-sided-short-edge", "TwoSided", "SHORTEDGE"},
};

const StandardValue kDuplexChoices[] = {
    {"None", "OneSided", ""},
    {"DuplexNoTumble", "TwoSided", "LONGEDGE"},
    {"DuplexTumble", "TwoSided", "SHORTEDGE"},
};

const StandardValue kColorModes[] = {
    {"monochrome", "Grayscale", ""},
    {"process-monochrome", "Grayscale", ""},
    {"auto-monochrome", "Grayscale", ""},
    {"color", "Color", ""},
};

// ColorModel choices that print grey; any other choice prints colour.
const char* const kGrayColorModels[] = {"Gray", "Grayscale",  "KGray", "Black",
                                        "Mono", "Monochrome", "BW",    "BlackWhite"};

std::string LookUp(const OptionsMap& options, const std::string& key, const std::string& fallback) {
  auto it = options.find(key);
  return it == options.end() ? fallback : it->second;
}

const StandardValue* Meaning(std::span<const StandardValue> table, const std::string& value) {
  for (const StandardValue& entry : table) {
    if (value == entry.value)
      return &entry;
  }
  return nullptr;
}

const StandardValue* ColorModelMeaning(const std::string& value) {
  static const StandardValue kGray{"", "Grayscale", ""};
  static const StandardValue kColour{"", "Color", ""};
  if (value.empty())
    return nullptr;
  for (const char* gray : kGrayColorModels) {
    if (strcasecmp(value.c_str(), gray) == 0)
      return &kGray;
  }
  return &kColour;
}

// Where an attribute may come from when the print dialog did not say, in order.
struct Source {
  std::string name;  // "sides=two-sided-long-edge", "*DefaultDuplex DuplexTumble"
  const StandardValue* meaning;
};

bool TakeFirst(std::ostream& log, const std::vector<Source>& sources, const char* label,
               std::string& field, std::string* binding) {
  for (const Source& source : sources) {
    if (!source.meaning)
      continue;
    field = source.meaning->result;
    if (binding)
      *binding = source.meaning->binding;
    LogPlain(log, std::string(label) + " " + field + " from " + source.name);
    return true;
  }
  return false;
}

Source OptionSource(const OptionsMap& options, const std::string& key,
                    const StandardValue* (*meaning)(const std::string&)) {
  auto it = options.find(key);
  if (it == options.end())
    return {"", nullptr};
  return {key + "=" + it->second, meaning(it->second)};
}

Source DefaultSource(const PpdFile& ppd, const std::string& keyword,
                     const StandardValue* (*meaning)(const std::string&)) {
  std::string choice = ppd.Default(keyword);
  return {"*Default" + keyword + " " + choice, meaning(choice)};
}

const StandardValue* SidesMeaning(const std::string& v) {
  return Meaning(kSides, v);
}
const StandardValue* DuplexMeaning(const std::string& v) {
  return Meaning(kDuplexChoices, v);
}
const StandardValue* ColorModeMeaning(const std::string& v) {
  return Meaning(kColorModes, v);
}

void ResolveDuplex(std::ostream& log, JobInfo& job, const OptionsMap& options, const PpdFile& ppd) {
  TakeFirst(
      log,
      {OptionSource(options, "sides", SidesMeaning), OptionSource(options, "Duplex", DuplexMeaning),
       DefaultSource(ppd, "Duplex", DuplexMeaning)},
      "duplex", job.duplex, &job.binding);
}

// CUPS puts print-color-mode=color on every job of a colour queue, also when the job's ColorModel
// asks the driver for grey: a ColorModel the job carries then says what the device prints.
void ResolveColour(std::ostream& log, JobInfo& job, const OptionsMap& options, const PpdFile& ppd) {
  Source mode = OptionSource(options, "print-color-mode", ColorModeMeaning);
  if (mode.meaning && std::string(mode.meaning->result) == "Color" &&
      options.count("ColorModel") != 0)
    mode.meaning = nullptr;
  TakeFirst(log,
            {mode, OptionSource(options, "ColorModel", ColorModelMeaning),
             DefaultSource(ppd, "ColorModel", ColorModelMeaning)},
            "color", job.color, nullptr);
}

// Paper names other than Letter are cut to their first two characters (A4, A3, B5...).
std::string ResolvePaper(std::ostream& log, const OptionsMap& options, const std::string& ppdPath) {
  std::string fallback = "A4";
  if (options.count("PageSize") == 0 && !ppdPath.empty()) {
    std::string ppdDefault = ReadPpd(ppdPath).Default("PageSize");
    if (!ppdDefault.empty())
      fallback = ppdDefault;
  }
  std::string paper = LookUp(options, "PageSize", fallback);
  if (paper.size() >= 3 && paper != "Letter") {
    Log(log, "Paper-original:", paper);
    paper.resize(2);
  }
  return paper;
}

// The control file is read line by line: a title or an option value holding a line end must not
// add lines to it. The job log, like the server, gets the value as it came.
void WriteSummaryLine(std::ostream& log, SafeOutFile& control, const std::string& key,
                      const std::string& value) {
  control << key << ':' << OnOneLine(value) << '\n' << std::flush;
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

void ApplyPrintSettings(std::ostream& log, JobInfo& job, const std::string& optionsText,
                        const std::string& ppdPath) {
  bool dialogColour = false;
  bool dialogDuplex = false;
  for (const OptionPair& setting : parsePrintSettings(optionsText)) {
    std::cout << "Key: " << setting.first << ", Value: " << setting.second << std::endl;
    dialogColour = dialogColour || setting.first == kColorKey;
    dialogDuplex = dialogDuplex || setting.first == kDuplexKey;
    for (const SettingRule& rule : kSettingRules) {
      if (setting.first == rule.key && setting.second == rule.value)
        job.*rule.field = rule.result;
    }
  }
  if (dialogColour && dialogDuplex)
    return;
  const OptionsMap options = GetKeyValue(optionsText.c_str());
  const PpdFile ppd = ppdPath.empty() ? PpdFile() : ReadPpd(ppdPath);
  if (!dialogDuplex)
    ResolveDuplex(log, job, options, ppd);
  if (!dialogColour)
    ResolveColour(log, job, options, ppd);
}

void CountPdfPages(std::ostream& log, JobInfo& job, const std::string& dataPath) {
  // The program reads the file this process opened, through its descriptor: a link or a FIFO put
  // in the data file's place in the shared folder is neither followed nor waited on, and the name
  // cannot be swapped for another file once it is open.
  int data = OpenNoFollow(dataPath, O_RDONLY, 0);
  if (data < 0) {
    Log(log, "parser pagecount:");  // what the program says of a file it cannot read
    job.pages = "";
    return;
  }
  fcntl(data, F_SETFD, 0);  // the program inherits it
  std::string command = std::string(paths::kPageCountProgram) + " /dev/fd/" + std::to_string(data) +
                        " | grep '^Pages:' | awk '{print $2}'";
  std::string result;
  try {
    result = executeCommand(command);
  } catch (const std::runtime_error& e) {
    close(data);
    Log(log, std::string("Caught exception: ") + e.what());
    return;
  }
  close(data);
  Log(log, "parser pagecount:" + result);
  job.pages = result;
}

void WriteJobSummary(std::ostream& log, SafeOutFile& control, JobInfo& job,
                     const std::string& dataFileName, const std::string& title,
                     const OptionsMap& options, const std::string& driverModel,
                     const std::string& ppdPath) {
  if (!control.is_open())
    return;
  control << "DataFile:" << dataFileName << '\n' << std::flush;
  job.documentName = title;
  WriteSummaryLine(log, control, "DocumentName", job.documentName);
  WriteSummaryLine(log, control, "AllPage", job.pages);
  WriteSummaryLine(log, control, "CopyCount", job.copies);
  job.paper = ResolvePaper(log, options, ppdPath);
  WriteSummaryLine(log, control, "Paper", job.paper);
  WriteSummaryLine(log, control, "Color", job.color);
  WriteSummaryLine(log, control, "Duplexing", job.duplex);
  job.orientation = LookUp(options, "NupOrient", "Portrait");
  WriteSummaryLine(log, control, "PageOrientation", job.orientation);
  job.driverName = driverModel;
  WriteSummaryLine(log, control, "DriverName", job.driverName);
  control.close();
}
