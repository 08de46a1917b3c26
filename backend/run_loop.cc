#include "backend/run_loop.h"

#include <signal.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "backend/cups_private.h"

namespace {

// The side channel is descriptor 4; select is given one more than it, as CUPS's own loop does.
constexpr int kSelectWidth = 5;

// A full disk or a busy device clears up on its own or not at all; wait between tries instead of
// spinning a core until it does or the scheduler cancels the job.
constexpr long kRetryPauseNanoseconds = 200L * 1000 * 1000;

bool IsRetryableWriteError(int error) {
  return error == ENOSPC || error == ENXIO || error == EAGAIN || error == EINTR || error == ENOTTY;
}

void PauseBeforeRetry(int error) {
  if (error == EINTR)
    return;
  struct timespec pause = {0, kRetryPauseNanoseconds};
  nanosleep(&pause, nullptr);
}

}  // namespace

void IgnoreSignal(int sig) {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

int backendWaitLoop(int snmp_fd, const void* addr, int /*use_bc*/, SideChannelCallback side_cb) {
  fprintf(stderr, "DEBUG: backendWaitLoop(snmp_fd=%d, addr=%p, side_cb=%p)\n", snmp_fd, addr,
          reinterpret_cast<void*>(side_cb));
  for (;;) {
    fd_set input;
    FD_ZERO(&input);
    FD_SET(0, &input);
    if (select(kSelectWidth, &input, nullptr, nullptr, nullptr) < 0) {
      if (errno == EINTR) {
        fputs("DEBUG: Received an interrupt before any bytes were written, aborting.\n", stderr);
        return 0;
      }
      sleep(1);
      continue;
    }
    if (FD_ISSET(0, &input))
      return 1;
  }
}

int64_t backendRunLoop(int print_fd, int device_fd, int snmp_fd, const void* addr, int use_bc,
                       int /*update_state*/, SideChannelCallback side_cb) {
  fprintf(stderr,
          "DEBUG: backendRunLoop(print_fd=%d, device_fd=%d, snmp_fd=%d, addr=%p, use_bc=%d, "
          "side_cb=%p)\n",
          print_fd, device_fd, snmp_fd, addr, use_bc, reinterpret_cast<void*>(side_cb));

  if (print_fd == 0) {
    // Read the job to its end even after a cancel request.
    IgnoreSignal(SIGTERM);
  } else if (print_fd < 0) {
    print_fd = 0;
  }

  char print_buffer[8192];
  const char* write_position = print_buffer;
  ssize_t pending = 0;
  int64_t total = 0;

  for (;;) {
    if (pending == 0) {
      ssize_t got = read(print_fd, print_buffer, sizeof print_buffer);
      if (got < 0 && errno != EAGAIN && errno != EINTR) {
        fprintf(stderr, "DEBUG: Read failed: %s\n", strerror(errno));
        _cupsLangPrintFilter(stderr, "ERROR", "Unable to read print data.");
        return -1;
      }
      if (got == 0)
        return total;
      pending = got > 0 ? got : 0;
      write_position = print_buffer;
      fprintf(stderr, "DEBUG: Read %d bytes of print data...\n", static_cast<int>(pending));
    }

    if (pending > 0) {
      ssize_t wrote = write(device_fd, write_position, static_cast<size_t>(pending));
      if (wrote < 0) {
        int error = errno;
        if (!IsRetryableWriteError(error)) {
          _cupsLangPrintError("ERROR", "Unable to write print data");
          return -1;
        }
        PauseBeforeRetry(error);
        continue;
      }
      fprintf(stderr, "DEBUG: Wrote %d bytes of print data...\n", static_cast<int>(wrote));
      write_position += wrote;
      pending -= wrote;
      total += wrote;
    }
  }
}
