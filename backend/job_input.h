#pragma once

#include <string>

#include "attributes/print_settings.h"
#include "backend/driver_model.h"
#include "config/device_options.h"

namespace vp {

// What a job is given, read once from the arguments, the environment and the PPD; every stage
// after takes what it needs from it.
struct JobInput {
  std::string title;   // the job's title, argv[3]
  int copies = 0;      // argv[4], as atoi reads it
  JobOptions options;  // argv[5]
  DeviceOptions device;
  DriverInput driver;
};

}  // namespace vp
