#pragma once

#include <cstddef>

namespace vp {

// A full disk or a busy device clears up on its own or not at all: a write that meets one of these
// errors is tried again after a pause, instead of spinning a core until it clears or the scheduler
// cancels the job.
bool IsRetryableWriteError(int error);
void PauseBeforeRetry(int error);

// Writes all `size` bytes, retrying (after the pause) the errors above; false on any other error.
bool WriteToDevice(int device_fd, const char* data, size_t size);

}  // namespace vp
