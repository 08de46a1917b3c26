// The parts of virtual-printer-check that read text: a ServerIp setting, the kernel's socket
// tables, cupsd.conf's LogLevel and the names of job files.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "tools/check/checks.h"
#include "tools/check/clean.h"
#include "tools/check/job_files.h"
#include "tools/check/listener.h"

namespace vp {

namespace {

TEST(ServerIpForm, ReadsEachFormAsTheLoginAddressWould) {
  const std::pair<const char*, AddressForm> kCases[] = {
      {"print.example", AddressForm::kHost},
      {"10.0.0.5:8080", AddressForm::kHost},
      {"[fe80::1]:8080", AddressForm::kBracketedIpv6},
      {"[::1]", AddressForm::kBracketedIpv6},
      {"https://print.example:8443/base", AddressForm::kHttps},
      {"fe80::1", AddressForm::kBareIpv6},
      {"::1", AddressForm::kBareIpv6},
      {"http://print.example", AddressForm::kHttpPrefix},
      {"print.example:", AddressForm::kOther},
      {"print.example:99999", AddressForm::kOther},
      {"print example", AddressForm::kOther},
      {"print.example:80/path", AddressForm::kOther},
      {"[fe80::1", AddressForm::kOther},
      {"[fe80::1]8080", AddressForm::kOther},
      {"httpsprint.example", AddressForm::kOther},
  };
  for (const auto& [text, form] : kCases)
    EXPECT_EQ(ServerIpForm(text), form) << text;
}

// An address word as the kernel prints it: the bytes of the network-order word read natively.
std::string Word(uint32_t hostOrder) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", htonl(hostOrder));
  return text;
}

std::string TableLine(const std::string& local, const char* state, int uid, int inode) {
  return "   0: " + local + " 00000000:0000 " + state +
         " 00000000:00000000 00:00000000 00000000  " + std::to_string(uid) + "        0 " +
         std::to_string(inode) + " 1 0000000000000000 100 0 0 10 0\n";
}

TEST(ListeningSocketOwner, FindsTheSocketThatTakesLoopbackConnections) {
  const std::string loopback = Word(INADDR_LOOPBACK);
  const std::string any6 = "00000000000000000000000000000000";
  const std::string mapped6 = Word(0) + Word(0) + Word(0xffff) + loopback;
  const std::string localhost6 = Word(0) + Word(0) + Word(0) + Word(1);
  const struct {
    std::string local;
    const char* state;
    std::optional<unsigned> uid;
  } kCases[] = {
      {loopback + ":272D", "0A", 1000},
      {Word(INADDR_ANY) + ":272D", "0A", 0},
      {any6 + ":272D", "0A", 1000},
      {mapped6 + ":272D", "0A", 1000},
      {loopback + ":272E", "0A", std::nullopt},
      {loopback + ":272D", "01", std::nullopt},
      {Word(0x7f000002) + ":272D", "0A", std::nullopt},
      {localhost6 + ":272D", "0A", std::nullopt},
  };
  for (const auto& c : kCases) {
    std::string table = "  sl  local_address rem_address   st ...\n" +
                        TableLine(c.local, c.state, c.uid.value_or(7), 4242);
    std::optional<SocketOwner> owner = ListeningSocketOwner(table, 10029);
    ASSERT_EQ(owner.has_value(), c.uid.has_value()) << c.local << " " << c.state;
    if (owner) {
      EXPECT_EQ(owner->uid, *c.uid) << c.local;
      EXPECT_EQ(owner->inode, 4242u) << c.local;
    }
  }
}

TEST(LogLevelOf, TakesTheLastDirectiveInAnyCase) {
  const std::pair<const char*, const char*> kCases[] = {
      {"LogLevel warn\n", "warn"},
      {"# LogLevel debug\nLogLevel info\n", "info"},
      {"LogLevel debug2\n", "debug2"},
      {"loglevel DEBUG\nMaxLogSize 0\nLogLevel warn\n", "warn"},
      {"  LogLevel   Debug  \n", "debug"},
      {"PageLogFormat LogLevel\n", ""},
      {"", ""},
  };
  for (const auto& [conf, level] : kCases)
    EXPECT_EQ(LogLevelOf(conf), level) << conf;
}

// The days a preferences file sets, as the launchd job's clean takes them (files written as the
// listing plutil prints, read through a plutil that prints them as they are).
TEST(CleanDaysFromPreferences, TakesOnlyANumberOfDays) {
  const std::string dir = ::testing::TempDir() + "vp_clean_preferences_" + std::to_string(getpid());
  const std::string file = dir + "/local.virtual-printer.plist";
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  std::ofstream(dir + "/plutil") << "#!/bin/sh\nexec cat \"$2\"\n";
  std::system(("chmod 755 '" + dir + "/plutil'").c_str());
  std::string oldPath = getenv("PATH");
  setenv("PATH", (dir + ":" + oldPath).c_str(), 1);
  const struct {
    const char* value;  // CleanDays as listed; nullptr: no file
    int days;
    bool ok;
    std::string line;
  } kCases[] = {
      {nullptr, -1, true, "CleanDays is not set: nothing removed"},
      {"30", 30, true, "CleanDays 30 from " + file},
      {"0", 0, true, "CleanDays 0 from " + file},
      {"36501", -1, false, "CleanDays in " + file + " is not a number of days from 0 to 36500"},
      {"-1", -1, false, "CleanDays in " + file + " is not a number of days from 0 to 36500"},
      {"\"30\"", -1, false, "CleanDays in " + file + " is not a number of days from 0 to 36500"},
      {"true", -1, false, "CleanDays in " + file + " is not a number of days from 0 to 36500"},
  };
  for (const auto& c : kCases) {
    std::remove(file.c_str());
    if (c.value != nullptr)
      std::ofstream(file) << "{\n  \"CleanDays\" => " << c.value << "\n}\n";
    ConfiguredDays got = CleanDaysFromPreferences({file});
    EXPECT_EQ(got.days, c.days) << (c.value ? c.value : "none");
    EXPECT_EQ(got.ok, c.ok) << (c.value ? c.value : "none");
    EXPECT_EQ(got.line, c.line);
  }
  setenv("PATH", oldPath.c_str(), 1);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace

}  // namespace vp
