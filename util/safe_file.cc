#include "util/safe_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Why the file may not be used, as an errno value, or 0. It must be a plain file, and when it is to
// be written, one with no second name: writing a hard link that a local user planted would change
// the file it also names.
int Refusal(const struct stat& info, int flags) {
  if (!S_ISREG(info.st_mode))
    return EINVAL;
  if ((flags & O_ACCMODE) != O_RDONLY && info.st_nlink != 1)
    return EMLINK;
  return 0;
}

}  // namespace

int OpenNoFollow(const std::string& path, int flags, mode_t mode) {
  // Nothing blocks and nothing is truncated until the file is known to be a plain one of ours: a
  // FIFO planted in the shared folder would hold the job forever.
  int fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
  if (fd < 0)
    return -1;
  struct stat info {};
  int refusal = fstat(fd, &info) != 0 ? errno : Refusal(info, flags);
  if (refusal == 0 && (flags & O_TRUNC) != 0 && info.st_size > 0 && ftruncate(fd, 0) != 0)
    refusal = errno;
  if (refusal != 0) {
    ::close(fd);
    errno = refusal;
    return -1;
  }
  if ((flags & O_NONBLOCK) == 0)
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

namespace {

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

JobLock TakeJobLock(const std::string& folder, const std::string& uuid, int waitSeconds) {
  int dir = OpenLockFolder(folder);
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

void RemoveJobLock(const std::string& folder, const std::string& uuid, const JobLock& lock) {
  if (lock.held())
    unlink((folder + LockName(uuid)).c_str());
}

FdOutBuf::~FdOutBuf() {
  close();
}

bool FdOutBuf::close() {
  if (fd_ < 0)
    return true;
  bool ok = sync() == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  return ok;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

FdOutBuf::int_type FdOutBuf::overflow(int_type c) {
  if (fd_ < 0)
    return traits_type::eof();
  if (used_ == sizeof buffer_ && sync() != 0)
    return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof()))
    buffer_[used_++] = traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize FdOutBuf::xsputn(const char* s, std::streamsize n) {
  if (fd_ < 0)
    return 0;
  size_t size = static_cast<size_t>(n);
  if (used_ + size <= sizeof buffer_) {
    memcpy(buffer_ + used_, s, size);
    used_ += size;
    return n;
  }
  if (sync() != 0 || !WriteAll(fd_, s, size))
    return 0;
  return n;
}

int FdOutBuf::sync() {
  if (fd_ < 0)
    return -1;
  bool ok = WriteAll(fd_, buffer_, used_);
  used_ = 0;
  return ok ? 0 : -1;
}

bool SafeOutFile::open(const std::string& path, mode_t mode) {
  close();
  int fd = OpenNoFollow(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0)
    return false;
  buf_.attach(fd);
  clear();
  return true;
}

void SafeOutFile::close() {
  buf_.close();
  setstate(std::ios::badbit);
}
