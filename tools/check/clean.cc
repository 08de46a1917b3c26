#include "tools/check/clean.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "tools/check/job_files.h"
#include "tools/check/report.h"
#include "util/safe_file.h"

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

// Opens the job's files and tries to lock each. A backend holds its data file locked from spooling
// until the job ends, so a lock that is taken means the job still runs. Sets `busy` then; the locks
// this takes keep a new job of the same UUID waiting until the files are gone.
std::vector<OpenedFile> OpenJob(const std::string& dir, const std::set<std::string>& names,
                                bool& busy, CleanOutcome& outcome) {
  std::vector<OpenedFile> opened;
  busy = false;
  for (const std::string& name : names) {
    OpenedFile file{dir + name};
    file.fd = OpenNoFollow(file.path, O_RDONLY, 0);
    if (file.fd < 0) {
      if (errno != ENOENT)
        outcome.lines.push_back("skipped " + file.path + ": " + WhySkipped(errno));
      continue;
    }
    if (flock(file.fd, LOCK_EX | LOCK_NB) != 0)
      busy = true;
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

std::string Total(const std::string& dir, int days, bool dryRun, const Tally& tally) {
  std::string files = std::to_string(tally.files) + (tally.files == 1 ? " file" : " files");
  std::string scope = " older than " + std::to_string(days) + " days from " + dir + ", ";
  if (dryRun)
    return "would remove " + files + scope + HumanBytes(tally.freed) +
           " would be freed (dry run: nothing was removed)";
  return "removed " + files + scope + HumanBytes(tally.freed) + " freed";
}

}  // namespace

CleanOutcome CleanJobFiles(const std::string& dir, int days, bool dryRun, time_t now) {
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
    bool busy = false;
    std::vector<OpenedFile> opened = OpenJob(dir, names, busy, outcome);
    for (const OpenedFile& file : opened) {
      if (file.info.st_mtime < limit)
        RemoveOld(file, busy, dryRun, now, tally, outcome);
    }
    for (const OpenedFile& file : opened)
      close(file.fd);
  }
  outcome.lines.push_back(Total(dir, days, dryRun, tally));
  return outcome;
}
