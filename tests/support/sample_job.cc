#include "tests/support/sample_job.h"

namespace vp {

JobInfo SampleJob() {
  JobInfo job;
  job.color = "Color";
  job.pages = "12";
  job.duplex = "TwoSided";
  job.binding = "LONGEDGE";
  job.copies = "2";
  job.documentName = "Quarterly \"final\" report";
  job.paper = "A4";
  job.orientation = "Portrait";
  job.driverName = "Generic PS";
  return job;
}

}  // namespace vp
