#pragma once

#include <ostream>
#include <string>

#include <vector>

#include "attributes/driver_features.h"
#include "attributes/job_info.h"
#include "attributes/ppd_file.h"

namespace vp {

// PostScript and PJL jobs, after the family parser: the features the driver wrote, read through
// the queue's PPD for what their code makes the device do. Colour and duplex so decided replace
// the parser's, one plain log line each. Where nothing decides and the job said nothing, a PPD
// without any duplex option means one-sided, and a PPD without any colour option means what its
// device prints: grayscale without colour, colour on a colour device. Without a readable PPD
// nothing changes. `features` are those the data file holds (ReadDriverFeatures).
void ApplyPpdMeaning(std::ostream& log, JobInfo& job, const std::vector<DriverFeature>& features,
                     const PpdFile& ppd);

}  // namespace vp
