// Test main for the suites that start the backend and local servers. As root on Linux the whole
// test process moves into a network namespace of its own with only a loopback interface: the
// notifier's fixed port and every port a test picks are then private to the run, so two runs on
// one machine cannot take each other's, and a name lookup fails at once instead of asking the
// host's resolver. Elsewhere the tests run on the host's network, as before.

#include <cstdio>

#include <gtest/gtest.h>

#ifdef __linux__
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

bool BringUpLoopback() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

// Before any thread starts: a namespace entered later would hold only the calling thread.
void EnterPrivateNetwork() {
  if (geteuid() != 0)
    return;
  if (unshare(CLONE_NEWNET) != 0 || !BringUpLoopback())
    std::perror("private network namespace not available, the host's network is used");
}

}  // namespace
#else
namespace {
void EnterPrivateNetwork() {}
}  // namespace
#endif

int main(int argc, char* argv[]) {
  EnterPrivateNetwork();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
