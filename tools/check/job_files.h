#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "util/job_files.h"

namespace vp {

// A file a job left in the log folder, known by the backend's own name rule (JobUuidOf).
struct JobFile {
  std::string name;
  unsigned long long bytes = 0;
  time_t modified = 0;
};

// The regular files of the folder (ending in '/') named like job files, by name; links and other
// kinds of file are left out. False when the folder cannot be read.
bool ListJobFiles(const std::string& dir, std::vector<JobFile>& files);

}  // namespace vp
