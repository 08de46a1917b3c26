#include "backend/spool.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "backend/run_loop.h"
#include "util/cups_private.h"
#include "util/device_write.h"
#include "util/job_files.h"
#include "util/job_log.h"

namespace vp {

namespace {

constexpr size_t kFirstBlockSize = 1024;

// A driver may write its first bytes (a PJL header, say) on their own: the type is judged only
// once the block is full or the data has ended. 0 at once is end of data; -1 a read error.
ssize_t ReadFirstBlock(char* block, size_t size) {
  size_t have = 0;
  while (have < size) {
    ssize_t got = read(0, block + have, size - have);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return have > 0 ? static_cast<ssize_t>(have) : got;
    have += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(have);
}

}  // namespace

std::string SniffExtension(const char* block, size_t size) {
  std::string text(block, strnlen(block, size));
  if (text.find("%PDF-") != std::string::npos)
    return ".pdf";
  if (text.find("%!PS") != std::string::npos)
    return ".ps";
  return ".pjl";
}

std::string JobUuidFromOptions(std::ostream& log, const OptionsMap& options) {
  auto it = options.find("job-uuid");
  if (it == options.end())
    return "";
  size_t colon = it->second.rfind(':');
  if (colon == std::string::npos)
    return "";
  std::string uuid = it->second.substr(colon + 1);
  if (!CanNameJobFiles(uuid)) {
    Log(log, "job-uuid ignored, only letters, digits and '-' may name a file:", uuid);
    return "";
  }
  return uuid;
}

SpoolResult SpoolPrintData(std::ostream& log, const JobFiles& files, int print_fd,
                           const OptionsMap& options, const QueueStatus& status) {
  SpoolResult result;
  const bool from_stdin = print_fd == 0;
  char first_block[kFirstBlockSize];
  ssize_t first_size = 0;

  result.extension = ".pjl";
  if (from_stdin) {
    if (backendWaitLoop() == 0) {
      result.outcome = {Failure::kNoData, ""};
      return result;
    }
    first_size = ReadFirstBlock(first_block, sizeof first_block);
    if (first_size <= 0) {
      result.outcome = {Failure::kNoData, ""};
      return result;
    }
    result.extension = SniffExtension(first_block, static_cast<size_t>(first_size));
  }

  result.jobUuid = JobUuidFromOptions(log, options);
  result.dataFileName = result.jobUuid + result.extension;
  std::string path = files.Path(result.dataFileName);
  // A run of the same job still going is waited for, before its data file is touched.
  result.lock = files.TakeLock(result.jobUuid, kJobLockWaitSeconds);
  if (!result.lock.held()) {
    result.outcome = {
        Failure::kJobFilesUnavailable,
        errno == EWOULDBLOCK
            ? "Job files still in use by another run of this job after " +
                  std::to_string(kJobLockWaitSeconds) + " s:" + path
            : "Can't lock the job's files in " + files.lockDir() + ": " + std::strerror(errno)};
    LogPlain(log, result.outcome.detail);
    return result;
  }
  // Truncated: jobs without a UUID share one name and must not inherit an earlier job's tail.
  int device_fd = files.OpenData(result.dataFileName, O_WRONLY | O_CREAT | O_TRUNC);
  if (device_fd < 0) {
    result.outcome = {Failure::kJobFilesUnavailable, "Can't write print data file:" + path};
    LogPlain(log, result.outcome.detail);
    return result;
  }
  LogPlain(log, path + ",device_fd:" + std::to_string(device_fd));

  if (from_stdin) {
    // The job's first bytes: a full disk is waited out here as for the rest of the data.
    if (!WriteToDevice(device_fd, first_block, static_cast<size_t>(first_size))) {
      LogPlain(log, "Short write of the first block to " + path);
    }
  } else {
    if (!status.on)
      fputs("PAGE: 1 1\n", stderr);
    lseek(print_fd, 0, SEEK_SET);
  }

  int64_t copied = backendRunLoop(print_fd, device_fd);
  result.copiedBytes = copied < 0 ? -1 : copied;
  if (copied < 0)
    result.outcome = {Failure::kDataIncomplete, ""};
  // The data is taken: a cancel from now on must stop the job before it reaches the server.
  DefaultSignal(SIGTERM);

  if (!from_stdin && result.copiedBytes >= 0) {
    _cupsLangPrintFilter(stderr, "INFO", "Print file sent.");
  }
  fputs("STATE: +cups-waiting-for-job-completed\n", stderr);

  if (!from_stdin)
    close(print_fd);
  close(device_fd);
  return result;
}

}  // namespace vp
