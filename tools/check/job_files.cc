#include "tools/check/job_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr const char* kExtensions[] = {".ps", ".pdf", ".pjl", ".ctl"};
constexpr char kTemporary[] = ".tmp";

// 8-4-4-4-12 hexadecimal digits, as CUPS gives every job.
bool IsUuid(const std::string& text) {
  if (text.size() != 36)
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string JobUuidOf(const std::string& name) {
  std::string stem = name;
  if (stem.ends_with(kTemporary))
    stem.resize(stem.size() - (sizeof kTemporary - 1));
  size_t dot = stem.rfind('.');
  if (dot == std::string::npos || !IsUuid(stem.substr(0, dot)))
    return "";
  std::string extension = stem.substr(dot);
  for (const char* known : kExtensions) {
    if (extension == known)
      return stem.substr(0, dot);
  }
  return "";
}

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
