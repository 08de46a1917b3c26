#include "util/job_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "util/safe_file.h"

namespace vp {

namespace {

// The extensions of the data files, as spooling names them after the data's type.
constexpr const char* kDataExtensions[] = {".ps", ".pdf", ".pjl"};

// How often a run waiting for another run of its job tries the lock again.
constexpr int kLockRetryMilliseconds = 50;

std::string LockName(const std::string& uuid) {
  return uuid + ".lock";
}

// The lock folder, opened, once it is known to be a directory that only this user can change: a
// folder planted by someone else would let them hold or swap the locks.
int OpenLockFolder(const std::string& folder) {
  mkdir(folder.c_str(), 0700);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

// Whether the folder's name still leads to the locked file: the clean may have removed it.
bool StillNamed(int folder, const std::string& name, int fd) {
  struct stat held {};
  struct stat named {};
  return fstat(fd, &held) == 0 && fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

bool CanNameJobFiles(const std::string& uuid) {
  return std::all_of(uuid.begin(), uuid.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

std::string JobUuidOf(const std::string& name) {
  std::string stem = name;
  if (stem.ends_with(JobFiles::kTemporaryExtension))
    stem.resize(stem.size() - (sizeof JobFiles::kTemporaryExtension - 1));
  size_t dot = stem.rfind('.');
  // The name that jobs without a UUID share is not one job's.
  if (dot == std::string::npos || dot == 0 || !CanNameJobFiles(stem.substr(0, dot)))
    return "";
  std::string extension = stem.substr(dot);
  if (extension == JobFiles::kControlExtension ||
      std::find(std::begin(kDataExtensions), std::end(kDataExtensions), extension) !=
          std::end(kDataExtensions))
    return stem.substr(0, dot);
  return "";
}

JobLock& JobLock::operator=(JobLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

JobLock::~JobLock() {
  if (fd_ >= 0)
    ::close(fd_);
}

int JobFiles::OpenData(const std::string& fileName, int flags) const {
  return OpenNoFollow(Path(fileName), flags, kDataMode);
}

bool JobFiles::OpenControl(SafeOutFile& control, const std::string& uuid) const {
  return control.open(ControlPath(uuid), kControlMode);
}

bool JobFiles::OpenJobLog(SafeOutFile& log) const {
  mkdir(logDir_.c_str(), kLogFolderMode);
  return log.open(JobLogPath(), kLogMode);
}

JobLock JobFiles::TakeLock(const std::string& uuid, int waitSeconds) const {
  int dir = OpenLockFolder(lockDir_);
  if (dir < 0)
    return JobLock();
  const std::string name = LockName(uuid);
  const long tries = 1 + static_cast<long>(waitSeconds) * 1000 / kLockRetryMilliseconds;
  int error = EWOULDBLOCK;
  for (long attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0)
      usleep(kLockRetryMilliseconds * 1000);
    int fd = openat(dir, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = errno;
      break;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(dir, name, fd)) {
      ::close(dir);
      return JobLock(fd);
    }
    ::close(fd);
  }
  ::close(dir);
  errno = error;
  return JobLock();
}

void JobFiles::RemoveLock(const std::string& uuid, const JobLock& lock) const {
  if (lock.held())
    unlink((lockDir_ + LockName(uuid)).c_str());
}

}  // namespace vp
