#include "dispatch/job_summary.h"

#include "dispatch/paper.h"
#include "util/job_log.h"
#include "util/safe_text.h"

namespace vp {

namespace {

void AddLine(std::ostream& log, std::vector<std::string>& lines, const std::string& key,
             const std::string& value) {
  lines.push_back(key + ':' + OnOneLine(value));
  Log(log, key, value);
}

std::string LookUp(const OptionsMap& options, const std::string& key, const std::string& fallback) {
  auto it = options.find(key);
  return it == options.end() ? fallback : it->second;
}

}  // namespace

std::vector<std::string> SummariseJob(std::ostream& log, JobInfo& job,
                                      const std::string& dataFileName, const OptionsMap& options,
                                      const std::string& driverModel, const PpdFile& ppd) {
  std::vector<std::string> lines = {"DataFile:" + dataFileName};
  AddLine(log, lines, "DocumentName", job.documentName);
  AddLine(log, lines, "AllPage", job.pages);
  AddLine(log, lines, "CopyCount", job.copies);
  job.paper = DecidePaper(log, options, ppd);
  AddLine(log, lines, "Paper", job.paper);
  AddLine(log, lines, "Color", job.color);
  AddLine(log, lines, "Duplexing", job.duplex);
  job.orientation = LookUp(options, "NupOrient", "Portrait");
  AddLine(log, lines, "PageOrientation", job.orientation);
  job.driverName = driverModel;
  AddLine(log, lines, "DriverName", job.driverName);
  return lines;
}

}  // namespace vp
