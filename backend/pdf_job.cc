#include "backend/pdf_job.h"

#include <iostream>

#include "dispatch/page_count.h"
#include "dispatch/pdf_settings.h"

namespace vp {

void SettlePdfJob(std::ostream& log, JobInfo& job, const JobInput& input,
                  const std::string& dataPath) {
  for (const OptionPair& setting : input.options.settings)
    std::cout << "Key: " << setting.first << ", Value: " << setting.second << std::endl;
  ApplyPdfSettings(log, job, input.driver.model, input.options, input.driver.ppd);
  CountPdfPages(log, job, dataPath);
}

}  // namespace vp
