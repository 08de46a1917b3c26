#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "backend/job_input.h"

namespace vp {

// PDF jobs, after the parser's defaults: echoes every print-settings pair on standard output
// ("Key: k, Value: v"), decides colour and duplex from the options and the PPD, and counts the
// pages with the page-count program.
void SettlePdfJob(std::ostream& log, JobInfo& job, const JobInput& input,
                  const std::string& dataPath);

}  // namespace vp
