#include "util/device_write.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace vp {

namespace {

constexpr long kRetryPauseNanoseconds = 200L * 1000 * 1000;

}  // namespace

bool IsRetryableWriteError(int error) {
  return error == ENOSPC || error == ENXIO || error == EAGAIN || error == EINTR || error == ENOTTY;
}

void PauseBeforeRetry(int error) {
  if (error == EINTR)
    return;
  struct timespec pause = {0, kRetryPauseNanoseconds};
  nanosleep(&pause, nullptr);
}

bool WriteToDevice(int device_fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t wrote = write(device_fd, data, size);
    if (wrote < 0) {
      int error = errno;
      if (!IsRetryableWriteError(error))
        return false;
      PauseBeforeRetry(error);
      continue;
    }
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace vp
