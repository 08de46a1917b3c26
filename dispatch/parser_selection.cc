#include "dispatch/parser_selection.h"

#include <iterator>

#include "attributes/driver_features.h"
#include "attributes/page_language.h"
#include "attributes/print_file_parsers.h"
#include "dispatch/pdf_settings.h"
#include "dispatch/ppd_meaning.h"
#include "util/job_log.h"

namespace vp {

namespace {

using Parser = JobInfo (*)(std::ostream& log, const std::string& path,
                           PageLanguageReader* language);

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
     [](std::ostream&, const std::string& path, PageLanguageReader* language) {
       return GetPrintFile_KM(path, language);
     }},
    {"HP", "using HP driver parser", false,
     [](std::ostream&, const std::string& path, PageLanguageReader* language) {
       return GetPrintFile_HP(path, language);
     }},
    {"Virtual Printer", "using Virtual Printer driver parser", true,
     [](std::ostream&, const std::string& path, PageLanguageReader* language) {
       return GetPrintFile_Quoradex(path, language);
     }},
    {"", "using other parser", false,
     [](std::ostream& log, const std::string& path, PageLanguageReader* language) {
       return GetPrintFile_Other(log, path, language);
     }},
};

JobInfo Defaults(const std::string& title, int copies) {
  JobInfo job;
  job.documentName = title;
  job.pages = "1";
  job.copies = std::to_string(copies);
  job.color = "Grayscale";
  job.duplex = "OneSided";
  return job;
}

// The parser's record replaces the defaults as a whole, but for the title, which is the job's.
// The decision alone: the model's family, with its log lines; no file is read.
const DriverFamily& ChooseFamily(std::ostream& log, const std::string& driverModel) {
  for (const DriverFamily& family : kDriverFamilies) {
    if (driverModel.find(family.modelContains) == std::string::npos)
      continue;
    Log(log, family.logLine);
    if (family.logsDriverColour)
      DriverModelNamesColour(log, driverModel);
    return family;
  }
  return kDriverFamilies[std::size(kDriverFamilies) - 1];  // the empty name matches every model
}

JobInfo ParseDriverOutput(std::ostream& log, const std::string& dataPath,
                          const std::string& driverModel, PageLanguageReader& language) {
  return ChooseFamily(log, driverModel).parse(log, dataPath, &language);
}

void FillEmpty(std::ostream& log, const char* label, const std::string& value,
               const PageLanguageFindings& findings, std::string& field) {
  if (!field.empty() || value.empty())
    return;
  LogPlain(log, std::string(label) + " " + value + " from the " +
                    PageLanguageName(findings.language) + " data");
  field = value;
}

// What the page language says fills what the driver's marker lines left empty.
void ApplyPageLanguage(std::ostream& log, JobInfo& job, const PageLanguageFindings& findings) {
  const JobInfo& found = findings.found;
  FillEmpty(log, "pages", found.pages, findings, job.pages);
  FillEmpty(log, "copies", found.copies, findings, job.copies);
  if (job.duplex.empty())
    job.binding = found.binding;
  FillEmpty(log, "duplex", found.duplex, findings, job.duplex);
  FillEmpty(log, "color", found.color, findings, job.color);
}

// A page drawn only in grey prints grey, whatever colour mode the job's header or features asked
// the device for.
void ApplyGreyDrawing(std::ostream& log, JobInfo& job, const PageLanguageFindings& findings) {
  if (!findings.greyOnly || job.color == "Grayscale")
    return;
  LogPlain(log, std::string("color Grayscale: the ") + PageLanguageName(findings.language) +
                    " data sets grey colour spaces only");
  job.color = "Grayscale";
}

}  // namespace

JobInfo SelectParser(std::ostream& log, const std::string& extension, const std::string& dataPath,
                     const std::string& driverModel, const std::string& title, int copies,
                     const PpdFile& ppd) {
  Log(log, "begin parser file");
  JobInfo job = Defaults(title, copies);
  if (extension == ".ps" || extension == ".pjl") {
    PageLanguageReader language;
    job = ParseDriverOutput(log, dataPath, driverModel, language);
    job.documentName = title;
    const PageLanguageFindings findings = language.Finish();
    ApplyPageLanguage(log, job, findings);
    if (ppd.readable)
      ApplyPpdMeaning(log, job, ReadDriverFeatures(dataPath), ppd);
    ApplyGreyDrawing(log, job, findings);
    return job;
  }
  if (extension == ".pdf")
    Log(log, "using pdf driver parser");
  return job;
}

}  // namespace vp
