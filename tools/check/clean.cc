#include "tools/check/clean.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "config/preferences.h"
#include "tools/check/job_files.h"
#include "tools/check/report.h"
#include "util/job_files.h"
#include "util/safe_file.h"

namespace vp {

namespace {

struct OpenedFile {
  std::string path;
  int fd = -1;
  struct stat info {};
};

struct Tally {
  int files = 0;
  unsigned long long freed = 0;
};

// The job files of the folder, grouped by job; nothing is followed or opened yet.
bool JobsInFolder(const std::string& dir, std::map<std::string, std::set<std::string>>& jobs) {
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr)
    return false;
  while (const dirent* entry = readdir(folder)) {
    std::string uuid = JobUuidOf(entry->d_name);
    if (!uuid.empty())
      jobs[uuid].insert(entry->d_name);
  }
  closedir(folder);
  return true;
}

std::string WhySkipped(int error) {
  switch (error) {
    case ELOOP:
      return "a symbolic link, not followed";
    case EINVAL:
      return "not a regular file";
    default:
      return std::strerror(error);
  }
}

// Opens the job's files.
std::vector<OpenedFile> OpenJob(const std::string& dir, const std::set<std::string>& names,
                                CleanOutcome& outcome) {
  std::vector<OpenedFile> opened;
  for (const std::string& name : names) {
    OpenedFile file{dir + name};
    file.fd = OpenNoFollow(file.path, O_RDONLY, 0);
    if (file.fd < 0) {
      if (errno != ENOENT)
        outcome.lines.push_back("skipped " + file.path + ": " + WhySkipped(errno));
      continue;
    }
    fstat(file.fd, &file.info);
    opened.push_back(file);
  }
  return opened;
}

// Whether the name still means the opened file: it may have been replaced since it was opened.
bool StillNamed(const OpenedFile& file) {
  struct stat named {};
  return lstat(file.path.c_str(), &named) == 0 && named.st_dev == file.info.st_dev &&
         named.st_ino == file.info.st_ino;
}

void RemoveOld(const OpenedFile& file, bool busy, bool dryRun, time_t now, Tally& tally,
               CleanOutcome& outcome) {
  std::string about = " (" + HumanBytes(static_cast<unsigned long long>(file.info.st_size)) + ", " +
                      HumanAge(now - file.info.st_mtime) + " old)";
  if (busy) {
    outcome.lines.push_back("kept " + file.path + ": in use by a running job");
    return;
  }
  if (!StillNamed(file))
    return;
  if (!dryRun && unlink(file.path.c_str()) != 0) {
    outcome.lines.push_back("could not remove " + file.path + ": " + std::strerror(errno));
    outcome.ok = false;
    return;
  }
  outcome.lines.push_back((dryRun ? "would remove " : "removed ") + file.path + about);
  ++tally.files;
  // A second name keeps the data, and its space, alive.
  if (file.info.st_nlink == 1)
    tally.freed += static_cast<unsigned long long>(file.info.st_size);
}

// Every job leaves its lock file behind (the folder empties at every start); those no run holds
// are removed.
void RemoveIdleLocks(const JobFiles& files) {
  const std::string& lockDir = files.lockDir();
  constexpr std::string_view kSuffix = ".lock";
  std::vector<std::string> uuids;
  if (DIR* folder = opendir(lockDir.c_str())) {
    while (const dirent* entry = readdir(folder)) {
      std::string_view name = entry->d_name;
      if (name.ends_with(kSuffix))
        uuids.emplace_back(name.substr(0, name.size() - kSuffix.size()));
    }
    closedir(folder);
  }
  for (const std::string& uuid : uuids) {
    JobLock lock = files.TakeLock(uuid, 0);
    files.RemoveLock(uuid, lock);
  }
}

std::string Total(const std::string& dir, int days, bool dryRun, const Tally& tally) {
  std::string files = std::to_string(tally.files) + (tally.files == 1 ? " file" : " files");
  std::string scope = " older than " + std::to_string(days) + " days from " + dir + ", ";
  if (dryRun)
    return "would remove " + files + scope + HumanBytes(tally.freed) +
           " would be freed (dry run: nothing was removed)";
  return "removed " + files + scope + HumanBytes(tally.freed) + " freed";
}

}  // namespace

CleanOutcome CleanJobFiles(const JobFiles& files, int days, bool dryRun, time_t now) {
  const std::string& dir = files.logDir();
  const std::string& lockDir = files.lockDir();
  CleanOutcome outcome;
  std::string folder = dir.substr(0, dir.find_last_not_of('/') + 1);
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 && errno == ENOENT) {
    outcome.lines.push_back("no folder " + dir + ": nothing to remove");
    return outcome;
  }
  std::map<std::string, std::set<std::string>> jobs;
  if (!S_ISDIR(info.st_mode) || !JobsInFolder(dir, jobs)) {
    outcome.lines.push_back("cannot read the folder " + dir +
                            " (a link in its place is not followed): nothing removed");
    outcome.ok = false;
    return outcome;
  }
  const time_t limit = now - static_cast<time_t>(days) * 86400;
  Tally tally;
  for (const auto& [uuid, names] : jobs) {
    // A backend holds its job's lock from spooling until it ends, so a lock that cannot be taken
    // means the job still runs. The one taken here keeps a new run of the job waiting until the
    // files are gone.
    JobLock lock = files.TakeLock(uuid, 0);
    const bool busy = !lock.held() && errno == EWOULDBLOCK;
    if (!lock.held() && !busy) {
      outcome.lines.push_back("cannot take the locks in " + lockDir + ": " + std::strerror(errno) +
                              ": nothing removed");
      outcome.ok = false;
      return outcome;
    }
    std::vector<OpenedFile> opened = OpenJob(dir, names, outcome);
    for (const OpenedFile& file : opened) {
      if (file.info.st_mtime < limit)
        RemoveOld(file, busy, dryRun, now, tally, outcome);
    }
    for (const OpenedFile& file : opened)
      close(file.fd);
  }
  if (!dryRun)
    RemoveIdleLocks(files);
  outcome.lines.push_back(Total(dir, days, dryRun, tally));
  return outcome;
}

bool ParseCleanDays(const std::string& text, int& days) {
  // A century of days is more than any retention; five digits keep the number from overflowing.
  constexpr int kMaxDays = 36500;
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  days = std::atoi(text.c_str());
  return days <= kMaxDays;
}

ConfiguredDays CleanDaysFromPreferences(const std::vector<std::string>& files) {
  ConfiguredDays result;
  PreferenceValue setting = ReadPreference(files, "CleanDays");
  if (!setting.problem.empty()) {
    result.ok = false;
    result.line = "CleanDays not read: " + setting.problem;
  } else if (setting.file.empty()) {
    result.line = "CleanDays is not set: nothing removed";
  } else if (!ParseCleanDays(setting.value, result.days)) {
    result.ok = false;
    result.days = -1;
    result.line = "CleanDays in " + setting.file + " is not a number of days from 0 to 36500";
  } else {
    result.line = "CleanDays " + setting.value + " from " + setting.file;
  }
  return result;
}

}  // namespace vp
