#include "util/platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vp {

#if VP_LINUX_EXTRAS

int PipeCloexec(int ends[2]) {
  return pipe2(ends, O_CLOEXEC);
}

int SocketCloexec(int domain, int type, int protocol, bool nonBlocking) {
  return socket(domain, type | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), protocol);
}

int AcceptCloexec(int listener) {
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int PipeSize(int fd) {
  return fcntl(fd, F_GETPIPE_SZ);
}

bool SetPipeSize(int fd, int bytes) {
  return fcntl(fd, F_SETPIPE_SZ, bytes) >= bytes;
}

bool ExchangeNames(const char* from, const char* to) {
  return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0;
}

#else

namespace {

// Sets the flags after the fact, closing the descriptor (errno kept) when the system refuses.
int WithFlags(int fd, bool nonBlocking) {
  if (fd < 0)
    return -1;
  bool ok = fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
  if (ok && nonBlocking) {
    int flags = fcntl(fd, F_GETFL);
    ok = flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
  }
  if (!ok) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

int PipeCloexec(int ends[2]) {
  if (pipe(ends) != 0)
    return -1;
  if (WithFlags(ends[0], false) < 0) {
    close(ends[1]);
    return -1;
  }
  if (WithFlags(ends[1], false) < 0) {
    close(ends[0]);
    return -1;
  }
  return 0;
}

int SocketCloexec(int domain, int type, int protocol, bool nonBlocking) {
  return WithFlags(socket(domain, type, protocol), nonBlocking);
}

int AcceptCloexec(int listener) {
  return WithFlags(accept(listener, nullptr, nullptr), false);
}

int PipeSize(int) {
  return -1;
}

bool SetPipeSize(int, int) {
  return false;
}

bool ExchangeNames(const char*, const char*) {
  return false;
}

#endif

}  // namespace vp
