#pragma once

#include <cstddef>
#include <cstdint>

namespace vp {

// The CUPS backend run loops, reduced to what a backend without a device needs: no SNMP socket,
// device address, back-channel, state or side channel. Their debug lines still name those, switched
// off, as every CUPS backend's do.

// Sets a signal to be ignored (what System V sigset(sig, SIG_IGN) does; sigset is deprecated).
void IgnoreSignal(int sig);

// Gives a signal its default action back.
void DefaultSignal(int sig);

// Waits until standard input is readable (or at end of data): 1, or 0 when a signal interrupted.
int backendWaitLoop();

// Copies print_fd to device_fd in 8192-byte blocks; the bytes written, or -1 on a read error or
// a write error that cannot be retried.
int64_t backendRunLoop(int print_fd, int device_fd);

}  // namespace vp
