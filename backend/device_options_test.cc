#include "backend/device_options.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"

namespace {

TEST(DeviceOptions, QueryOfTheDeviceUri) {
  struct Case {
    std::string uri;
    bool statusLines;
    std::vector<std::string> logged;
  } cases[] = {
      {"virtual-printer:/", false, {}},
      {"", false, {}},
      {"virtual-printer:/?status=on", true, {}},
      {"virtual-printer:/?Status=YES", true, {}},
      {"virtual-printer:/?waiteof=false+status=true",
       true,
       {"device URI option ignored, unknown name:waiteof=false"}},
      {"virtual-printer:/?status=on&status=off", false, {}},
      {"virtual-printer:/?status=maybe",
       false,
       {"device URI option ignored, unknown value:status=maybe"}},
      {"virtual-printer:/?status", false, {"device URI option ignored, unknown value:status"}},
      {"virtual-printer:/?&&+", false, {}},
  };
  for (const Case& c : cases) {
    std::ostringstream log;
    EXPECT_EQ(ReadDeviceOptions(log, c.uri).statusLines, c.statusLines) << c.uri;
    EXPECT_EQ(Unstamped(log.str()), c.logged) << c.uri;
  }
}

}  // namespace
