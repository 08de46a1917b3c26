#pragma once

#include <algorithm>
#include <string>

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

// A job file's path: the log directory and the file's name (the job UUID and ".ps", ".pdf",
// ".pjl" for the data, ".ctl" for the control file).
inline std::string JobFilePath(const std::string& fileName) {
  return paths::kLogDir + fileName;
}

// Whether a job UUID may be part of its files' names: ASCII letters, digits and '-' only, so the
// name stays in the log folder and means nothing to the shell. The backend names its files by this
// rule, and the check's clean knows them by it; the empty UUID gives the name jobs without one
// share.
inline bool CanNameJobFiles(const std::string& uuid) {
  return std::all_of(uuid.begin(), uuid.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}
