#include "tools/check/job_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace vp {

bool ListJobFiles(const std::string& dir, std::vector<JobFile>& files) {
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr)
    return false;
  while (const dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    struct stat info {};
    if (JobUuidOf(name).empty() || lstat((dir + name).c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode))
      continue;
    files.push_back({name, static_cast<unsigned long long>(info.st_size), info.st_mtime});
  }
  closedir(folder);
  std::sort(files.begin(), files.end(),
            [](const JobFile& a, const JobFile& b) { return a.name < b.name; });
  return true;
}

}  // namespace vp
