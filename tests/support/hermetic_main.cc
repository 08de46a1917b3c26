// Test main for the suites that start the backend and local servers. As root on Linux the whole
// test process moves into a network namespace of its own with only a loopback interface: the
// notifier's fixed port and every port a test picks are then private to the run, so two runs on
// one machine cannot take each other's, and a name lookup fails at once instead of asking the
// host's resolver. Elsewhere the tests run on the network they are given (scripts/portability.sh
// gives them a private one from outside).

#include <cstdio>

#include <gtest/gtest.h>

#if VP_LINUX_EXTRAS
#include <sched.h>
#include <unistd.h>

#include "tests/support/loopback.h"

namespace {

// Before any thread starts: a namespace entered later would hold only the calling thread.
void EnterPrivateNetwork() {
  if (geteuid() != 0)
    return;
  if (unshare(CLONE_NEWNET) != 0 || !vp::BringUpLoopback())
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
