#include "dispatch/paper.h"

#include "util/job_log.h"

namespace vp {

std::string DecidePaper(std::ostream& log, const OptionsMap& options, const PpdFile& ppd) {
  auto option = options.find("PageSize");
  std::string paper = option != options.end() ? option->second : ppd.Default("PageSize");
  if (paper.empty() && option == options.end())
    paper = "A4";
  if (paper.size() >= 3 && paper != "Letter") {
    Log(log, "Paper-original:", paper);
    paper.resize(2);
  }
  return paper;
}

}  // namespace vp
