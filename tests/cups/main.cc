// The CUPS road tests run as PID 1 of namespaces of their own: a private loopback for the
// notifier's fixed port, tmpfs over every folder they write, and nothing left running after them.

#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "tests/cups/private_cups.h"

namespace vp {}  // namespace vp

using namespace vp;

int main(int argc, char* argv[]) {
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
  if (!listing && getpid() != 1)
    return RunIsolated(argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
