#pragma once

#include "attributes/job_info.h"

namespace vp {

// A job as the parsers and the control file leave it before upload: every field the upload sends
// is filled, and the title holds quotes to escape.
JobInfo SampleJob();

}  // namespace vp
