#include "dispatch/parser_selection.h"

#include "attributes/print_file_parsers.h"
#include "dispatch/ppd_meaning.h"
#include "util/job_log.h"

namespace {

using Parser = JobInfo (*)(std::ostream& log, const std::string& path);

// Driver families, first match wins: a KONICA MINOLTA model naming HP is still KONICA MINOLTA.
// The empty family matches every model.
struct DriverFamily {
  const char* modelContains;  // case-sensitive
  const char* logLine;
  bool logsDriverColour;
  Parser parse;
};

const DriverFamily kDriverFamilies[] = {
    {"KONICA MINOLTA", "using KM driver parser", false,
     [](std::ostream&, const std::string& path) { return GetPrintFile_KM(path); }},
    {"HP", "using HP driver parser", false,
     [](std::ostream&, const std::string& path) { return GetPrintFile_HP(path); }},
    {"Virtual Printer", "using Virtual Printer driver parser", true,
     [](std::ostream&, const std::string& path) { return GetPrintFile_Quoradex(path); }},
    {"", "using other parser", false,
     [](std::ostream& log, const std::string& path) { return GetPrintFile_Other(log, path); }},
};

// Any spelling of "color" in the model name, even inside a longer word, means a colour device.
bool LogDriverColour(std::ostream& log, const std::string& driverModel) {
  bool colour = findCaseInsensitive(driverModel, "Color") != std::string::npos;
  Log(log, colour ? "driver contain Color" : "driver contain Grayscale");
  return colour;
}

JobInfo Defaults(const std::string& title, int copies) {
  JobInfo job;
  job.documentName = title;
  job.pages = "1";
  job.copies = std::to_string(copies);
  job.color = "Grayscale";
  job.duplex = "OneSided";
  return job;
}

// The parser's record replaces the defaults as a whole.
JobInfo ParseDriverOutput(std::ostream& log, const std::string& dataPath,
                          const std::string& driverModel) {
  for (const DriverFamily& family : kDriverFamilies) {
    if (driverModel.find(family.modelContains) == std::string::npos)
      continue;
    Log(log, family.logLine);
    if (family.logsDriverColour)
      LogDriverColour(log, driverModel);
    return family.parse(log, dataPath);
  }
  return JobInfo();
}

}  // namespace

JobInfo SelectParser(std::ostream& log, const std::string& extension, const std::string& dataPath,
                     const std::string& driverModel, const std::string& title, int copies,
                     const std::string& ppdPath) {
  Log(log, "begin parser file");
  JobInfo job = Defaults(title, copies);
  if (extension == ".ps" || extension == ".pjl") {
    job = ParseDriverOutput(log, dataPath, driverModel);
    ApplyPpdMeaning(log, job, dataPath, ppdPath);
    return job;
  }
  if (extension != ".pdf")
    return job;
  Log(log, "using pdf driver parser");
  job.color = LogDriverColour(log, driverModel) ? "Color" : "Grayscale";
  return job;
}
