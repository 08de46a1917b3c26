#pragma once

#include <sys/types.h>

namespace vp {

// The calls that Linux makes in one step, or that only Linux has. Nothing else in the program
// names a Linux-only call. With VP_LINUX_EXTRAS off (every other system, and the portability
// build on Linux, scripts/portability.sh) the POSIX form is built instead, so it is compiled and
// tested here too. The POSIX forms set close-on-exec a moment after the descriptor exists: they
// are used only where no other thread of the process starts programs meanwhile.

// pipe(2) with both ends close-on-exec: 0, or -1 with errno.
int PipeCloexec(int ends[2]);

// socket(2), close-on-exec, and non-blocking when asked: the descriptor, or -1 with errno.
int SocketCloexec(int domain, int type, int protocol, bool nonBlocking = false);

// accept(2) of the next connection, close-on-exec: the descriptor, or -1 with errno.
int AcceptCloexec(int listener);

// The buffer size of a pipe, or -1 where the system does not tell.
int PipeSize(int fd);

// Sets the buffer size of a pipe where the system lets a process choose it; false elsewhere, or
// when refused.
bool SetPipeSize(int fd, int bytes);

// Swaps two existing names in one step; false where the system or the file system cannot, and
// then nothing has changed.
bool ExchangeNames(const char* from, const char* to);

}  // namespace vp
