#pragma once

#include "util/job_files.h"

namespace vp {

// The backend's fixed locations. They are defined once, at build time (paths.cc.in), so nothing a
// user controls at run time can move them.
namespace paths {
extern const char* const kLogDir;            // job log, data and control files
extern const char* const kLockDir;           // the jobs' locks: a folder only root may enter
extern const char* const kSettingsFile;      // the client application's settings property list
extern const char* const kSettingsListing;   // plutil's text listing of it
extern const char* const kPageCountProgram;  // prints "Pages: N" for a PDF
extern const char* const kPlutil;            // the property-list printer, run through the shell
}  // namespace paths

// The job files where the backend and the check keep them.
inline JobFiles FixedJobFiles() {
  return JobFiles(paths::kLogDir, paths::kLockDir);
}

}  // namespace vp
