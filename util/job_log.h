#pragma once

#include <ostream>
#include <string>

namespace vp {

// Local time as "%Y-%m-%d %H:%M:%S".
std::string getCurrentTimeStr();

// One stamped line, flushed at once so the log is complete up to the last step even if the
// process is killed: "<time> <message>".
void Log(std::ostream& log, const std::string& message);

// One stamped key-and-value line: "<time> <key>:<value>".
void Log(std::ostream& log, const std::string& key, const std::string& value);

// One plain line without a time stamp, flushed.
void LogPlain(std::ostream& log, const std::string& line);

class JobFiles;
class SafeOutFile;

// Creates the log folder and opens the job log afresh (JobFiles::OpenJobLog), writing the version
// line. On failure prints the CUPS error line naming the log and returns false.
bool OpenJobLog(const JobFiles& files, SafeOutFile& log);

}  // namespace vp
