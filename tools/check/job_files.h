#pragma once

#include <ctime>
#include <string>
#include <vector>

// The files a job leaves in the log folder: "<uuid>.ps", ".pdf", ".pjl" (the data), "<uuid>.ctl"
// (the control file) and "<uuid>.<ext>.tmp" (what a PDF wrap cut short leaves), the UUID being
// one the backend names files by (util/paths.h). Only names of that exact shape count; CUPS's own
// logs, vlog.txt and the shared name ".pdf" of jobs without a UUID never do.

// The UUID of a job file's name, or empty when the name is not a job file's.
std::string JobUuidOf(const std::string& name);

struct JobFile {
  std::string name;
  unsigned long long bytes = 0;
  time_t modified = 0;
};

// The regular files of the folder (ending in '/') named like job files, by name; links and other
// kinds of file are left out. False when the folder cannot be read.
bool ListJobFiles(const std::string& dir, std::vector<JobFile>& files);
