#include "config/device_options.h"

#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"

namespace vp {

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

// libcups hands back at most 1023 bytes of the device URI, from DEVICE_URI or else argv[0].
TEST(DeviceOptions, UriThatLibcupsCutOffIsNoted) {
  const std::string query = "virtual-printer:/?x=";
  const std::string cut =
      "device URI cut off by libcups after 1023 of 1034 bytes: options beyond "
      "that are ignored";
  struct Case {
    std::string environment;  // DEVICE_URI; empty: unset
    std::string argv0;
    size_t read;
    std::vector<std::string> logged;
  } cases[] = {
      {query + std::string(1003, 'a'), "", 1023, {}},
      {query + std::string(1004, 'a') + "&status=on", "", 1023, {cut}},
      {"", query + std::string(1004, 'a') + "&status=on", 1023, {cut}},
  };
  for (Case& c : cases) {
    if (c.environment.empty())
      unsetenv("DEVICE_URI");
    else
      setenv("DEVICE_URI", c.environment.c_str(), 1);
    char* argv[] = {c.argv0.data(), nullptr};
    std::ostringstream log;
    EXPECT_EQ(ReadDeviceUri(log, argv).size(), c.read) << c.environment << c.argv0;
    EXPECT_EQ(Unstamped(log.str()), c.logged) << c.environment << c.argv0;
  }
  unsetenv("DEVICE_URI");
}

TEST(DeviceOptions, WaitInSeconds) {
  struct Case {
    std::string uri;
    int waitSeconds;
    bool statusLines;
    std::vector<std::string> logged;
  } cases[] = {
      {"virtual-printer:/", 0, false, {}},
      {"virtual-printer:/?wait=60", 60, false, {}},
      {"virtual-printer:/?status=on&wait=86400", 86400, true, {}},
      {"virtual-printer:/?WAIT=0+status=on", 0, true, {}},
      {"virtual-printer:/?wait=2592000", 2592000, false, {}},
      {"virtual-printer:/?wait=00000030", 30, false, {}},
      {"virtual-printer:/?wait=60&wait=5", 5, false, {}},
      {"virtual-printer:/?wait=2592001",
       0,
       false,
       {"device URI option ignored, unknown value:wait=2592001"}},
      {"virtual-printer:/?wait=999999999999",
       0,
       false,
       {"device URI option ignored, unknown value:wait=999999999999"}},
      {"virtual-printer:/?wait=-1", 0, false, {"device URI option ignored, unknown value:wait=-1"}},
      {"virtual-printer:/?wait=1h", 0, false, {"device URI option ignored, unknown value:wait=1h"}},
      {"virtual-printer:/?wait= 60",
       0,
       false,
       {"device URI option ignored, unknown value:wait= 60"}},
      {"virtual-printer:/?wait", 0, false, {"device URI option ignored, unknown value:wait"}},
      {"virtual-printer:/?wait=&status=on",
       0,
       true,
       {"device URI option ignored, unknown value:wait="}},
      // CUPS's own backends call theirs contimeout; this one does not know it.
      {"virtual-printer:/?contimeout=60",
       0,
       false,
       {"device URI option ignored, unknown name:contimeout=60"}},
  };
  for (const Case& c : cases) {
    std::ostringstream log;
    DeviceOptions options = ReadDeviceOptions(log, c.uri);
    EXPECT_EQ(options.waitSeconds, c.waitSeconds) << c.uri;
    EXPECT_EQ(options.statusLines, c.statusLines) << c.uri;
    EXPECT_EQ(Unstamped(log.str()), c.logged) << c.uri;
  }
}

}  // namespace

}  // namespace vp
