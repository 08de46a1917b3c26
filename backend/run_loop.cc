#include "backend/run_loop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/cups_private.h"
#include "util/device_write.h"
#include "util/platform.h"

namespace vp {

namespace {

// What CUPS's loops print for the SNMP socket, device address, back-channel and side channel that
// this backend does not have. The pointers go through printf's %p, so each system prints them as
// it always did: "(nil)" with glibc, "0x0" on macOS.
constexpr int kNoSnmpSocket = -1;
const void* const kNoAddress = nullptr;
constexpr int kNoBackChannel = 0;
void* const kNoSideChannel = nullptr;

// The side channel is descriptor 4; select is given one more than it, as CUPS's own loop does.
constexpr int kSelectWidth = 5;

// With a larger pipe the filter that feeds us runs ahead of the 8 KiB reads instead of being woken
// at every block. Only ever grown; where the system refuses, the pipe stays as it is.
constexpr int kInputPipeSize = 1 << 20;

// Where the system does not let a process size its pipes, they keep the system's size.
void EnlargeInputPipe(int fd) {
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) && PipeSize(fd) < kInputPipeSize)
    SetPipeSize(fd, kInputPipeSize);
}

// A block's two status lines leave in one write once its data is on the device: the scheduler
// reads the same lines, but is woken once per block instead of twice.
struct StatusLines {
  char text[128];
  size_t used = 0;
};

void AddStatus(StatusLines& lines, const char* format, int count) {
  int n = snprintf(lines.text + lines.used, sizeof lines.text - lines.used, format, count);
  if (n > 0)
    lines.used = std::min(sizeof lines.text - 1, lines.used + static_cast<size_t>(n));
}

void FlushStatus(StatusLines& lines) {
  if (lines.used > 0)
    fwrite(lines.text, 1, lines.used, stderr);
  lines.used = 0;
}

}  // namespace

namespace {

void SetSignalAction(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

}  // namespace

void IgnoreSignal(int sig) {
  SetSignalAction(sig, SIG_IGN);
}

void DefaultSignal(int sig) {
  SetSignalAction(sig, SIG_DFL);
}

int backendWaitLoop() {
  fprintf(stderr, "DEBUG: backendWaitLoop(snmp_fd=%d, addr=%p, side_cb=%p)\n", kNoSnmpSocket,
          kNoAddress, kNoSideChannel);
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

int64_t backendRunLoop(int print_fd, int device_fd) {
  fprintf(stderr,
          "DEBUG: backendRunLoop(print_fd=%d, device_fd=%d, snmp_fd=%d, addr=%p, use_bc=%d, "
          "side_cb=%p)\n",
          print_fd, device_fd, kNoSnmpSocket, kNoAddress, kNoBackChannel, kNoSideChannel);

  if (print_fd == 0) {
    // Read the job to its end even after a cancel request.
    IgnoreSignal(SIGTERM);
  } else if (print_fd < 0) {
    print_fd = 0;
  }

  EnlargeInputPipe(print_fd);
  char print_buffer[8192];
  const char* write_position = print_buffer;
  ssize_t pending = 0;
  int64_t total = 0;
  StatusLines status;

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
      AddStatus(status, "DEBUG: Read %d bytes of print data...\n", static_cast<int>(pending));
      if (pending == 0) {
        FlushStatus(status);
        continue;
      }
    }

    ssize_t wrote = write(device_fd, write_position, static_cast<size_t>(pending));
    if (wrote < 0) {
      int error = errno;
      // The read line goes out before anything else is said or waited for.
      FlushStatus(status);
      if (!IsRetryableWriteError(error)) {
        errno = error;
        _cupsLangPrintError("ERROR", "Unable to write print data");
        return -1;
      }
      PauseBeforeRetry(error);
      continue;
    }
    AddStatus(status, "DEBUG: Wrote %d bytes of print data...\n", static_cast<int>(wrote));
    FlushStatus(status);
    write_position += wrote;
    pending -= wrote;
    total += wrote;
  }
}

}  // namespace vp
