#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

namespace vp {

class SafeOutFile;

// Whether a job UUID may be part of its files' names: ASCII letters, digits and '-' only, so the
// name stays in the log folder and means nothing to the shell. The backend names its files by this
// rule, and the check's clean knows them by it; the empty UUID gives the name jobs without one
// share.
bool CanNameJobFiles(const std::string& uuid);

// The UUID of a job file's name ("<uuid>.ps", ".pdf", ".pjl", "<uuid>.ctl", or one of these with
// the wrap's ".tmp"), or empty when the name is not a job file's: CUPS's own logs, vlog.txt and
// the name ".pdf" that jobs without a UUID share never are.
std::string JobUuidOf(const std::string& name);

// Any client may pick a job's UUID, so two runs may share a job's files. Each run holds a lock
// named after its UUID from before it opens the data file until it ends; a second run of the same
// UUID waits for it. The lock files lie in a folder of their own that only the backend's user
// (root) can enter: in the log folder any local user could open a job file and hold its lock, and
// so stop every later run of that job for as long as they liked. The lock is let go when its
// handle is destroyed.
class JobLock {
 public:
  JobLock() = default;
  explicit JobLock(int fd) : fd_(fd) {}
  JobLock(JobLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  JobLock& operator=(JobLock&& other) noexcept;
  JobLock(const JobLock&) = delete;
  JobLock& operator=(const JobLock&) = delete;
  ~JobLock();

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Where a job's files lie, what they are called, and how they are opened and locked. The backend
// and the check build one from the fixed paths (FixedJobFiles, util/paths.h); tests build one on a
// folder of their own, so that they need no fixed path.
class JobFiles {
 public:
  // The data files (and the wrap's temporary file) are made executable as they always were, the
  // control file and the job log writable by all; the log folder is shared with CUPS's own logs.
  static constexpr mode_t kDataMode = 0777;
  static constexpr mode_t kControlMode = 0666;
  static constexpr mode_t kLogMode = 0666;
  static constexpr mode_t kLogFolderMode = 0777;
  static constexpr char kControlExtension[] = ".ctl";
  static constexpr char kTemporaryExtension[] = ".tmp";

  // Both folders end in '/'.
  JobFiles(std::string logDir, std::string lockDir)
      : logDir_(std::move(logDir)), lockDir_(std::move(lockDir)) {}

  const std::string& logDir() const { return logDir_; }
  const std::string& lockDir() const { return lockDir_; }

  // A file of the log folder: the data file "<uuid><extension>", say.
  std::string Path(const std::string& fileName) const { return logDir_ + fileName; }
  std::string JobLogPath() const { return Path("vlog.txt"); }
  std::string ControlPath(const std::string& uuid) const { return Path(uuid + kControlExtension); }
  // Where a data file is rewritten before it is renamed back into place.
  static std::string TemporaryPath(const std::string& path) { return path + kTemporaryExtension; }

  // The data file `fileName` opened through OpenNoFollow with `flags`, made with kDataMode: the
  // descriptor, or -1 with errno.
  int OpenData(const std::string& fileName, int flags) const;
  // The control file of the job, opened afresh; false when it did not open.
  bool OpenControl(SafeOutFile& control, const std::string& uuid) const;
  // Makes the log folder when missing and opens the job log afresh; false when it did not open.
  bool OpenJobLog(SafeOutFile& log) const;

  // Takes the lock of the job `uuid` (empty for the jobs without one, which share their files) in
  // the lock folder, made with mode 0700 when missing. Waits at most `waitSeconds` for another run
  // to let go. Fails (not held) with errno EPERM when the folder is not a directory of this
  // process's user that no one else may write, or EWOULDBLOCK when the wait ran out. A lock file
  // removed by the clean while this waited is taken afresh.
  JobLock TakeLock(const std::string& uuid, int waitSeconds) const;
  // Removes the job's lock file; only while `lock` holds it, so no run waiting for it is cheated.
  void RemoveLock(const std::string& uuid, const JobLock& lock) const;

 private:
  std::string logDir_;
  std::string lockDir_;
};

}  // namespace vp
