#include "config/server_settings.h"

#include <plist/plist.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "util/quoted_input.h"

namespace vp {
namespace {

// A folder of this process's own: tests in other processes run beside it.
const std::string kScratch = ::testing::TempDir() + "vp_settings_" + std::to_string(getpid());
const std::string kSpool = kScratch + "/spool";
const SettingsFiles kSettings = {kSpool + "/VirtualFile", kSpool + "/VirtualFile.txt", "plutil"};

std::vector<std::string> fields(const ConfigInfo& c) {
  return {c.AuthMode,
          c.MAC,
          c.PassWord,
          c.PassWord2,
          c.SelectedPrinter,
          c.ServerIp,
          c.UserName,
          c.select_printer_name,
          c.ServerIP_Mode,
          c.rememberPassword,
          c.ClientId,
          c.QrCodeServer,
          c.Token};
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ListingConversion, ReplaceAllNeverRescansInsertedText) {
  struct Case {
    std::string text, from, to, expected;
  } cases[] = {
      {"a => b => c", " => ", ":", "a:b:c"},
      {"\"\"\"\"", "\"\"", "\",\"", "\",\"\",\""},
      {"aaa", "a", "aa", "aaaaaa"},
      {"abc", "", "x", "abc"},
      {"", "a", "b", ""},
  };
  for (Case& c : cases) {
    replaceAll(c.text, c.from, c.to);
    EXPECT_EQ(c.text, c.expected) << c.from;
  }
}

TEST(ListingConversion, WhitespaceAndCommas) {
  struct Case {
    std::string text, formatted, fixed;
  } cases[] = {
      {"{  \"quoradex\":{    \"ServerIp\":\"a\"    \"Token\":\"\"    \"UserName\":\"b\"  }}",
       "{\"quoradex\":{\"ServerIp\":\"a\"\"Token\":\",\"\"UserName\":\"b\"}}",
       "{\"quoradex\":{\"ServerIp\":\"a\",\"Token\":\",\",\"UserName\":\"b\"}}"},
      {"{ \"k\":\"\" }", "{\"k\":\",\"}", "{\"k\":\",\"}"},
      {"\"two  words\"\t\"x\"", "\"two  words\"\"x\"", "\"two  words\",\"x\""},
      {"{\r\"k\":1 }", "{\r\"k\":1}", "{\r\"k\":1}"},
      {"\"a\\\"b\"", "\"a\\\"b\"", "\"a\\\"b\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formatToJSON(c.text), c.formatted) << c.text;
    EXPECT_EQ(fix_json_str(c.formatted), c.fixed) << c.text;
  }
}

// The real reader on the test's own folder, its plutil found through PATH.
class ServerSettings : public testing::Test {
 protected:
  void SetUp() override {
    oldPath_ = getenv("PATH");
    std::system(("rm -rf '" + kScratch + "' && mkdir -p '" + kSpool + "'").c_str());
    usePlutil(VP_BINARY_DIR "/tools/plutil");
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    std::system(("rm -rf '" + kScratch + "'").c_str());
  }

  void usePlutil(const std::string& dir) { setenv("PATH", (dir + ":" + oldPath_).c_str(), 1); }

  // A plutil that prints the settings file as it is, so tests can hand the reader any listing.
  void useListingAsIs() {
    std::string dir = kScratch + "/listing-plutil";
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/plutil") << "#!/bin/sh\nexec cat \"$2\"\n";
    chmod((dir + "/plutil").c_str(), 0755);
    usePlutil(dir);
  }

  ConfigInfo read() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    SettingsReading reading = getServerInfo(log_, kSettings);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    outcome_ = reading.outcome;
    return reading.config;
  }

  std::string oldPath_;
  std::ostringstream log_;
  std::string out_, err_;
  Outcome outcome_;
};

// The library's own message on a listing it cannot parse, through its throwing parse: the
// reference for the line the reading logs without throwing.
std::string ThrownParseError(std::string listing) {
  std::erase(listing, '\n');
  replaceAll(listing, " => ", ":");
  try {
    nlohmann::json parsed = nlohmann::json::parse(fix_json_str(formatToJSON(listing)));
  } catch (const nlohmann::json::parse_error& e) {
    return "Caught exception: " + WithoutQuotedInput(e.what());
  }
  return "";
}

void writeSettings(plist_t root, bool binary) {
  char* bytes = nullptr;
  uint32_t length = 0;
  if (binary) {
    plist_to_bin(root, &bytes, &length);
  } else {
    plist_to_xml(root, &bytes, &length);
  }
  std::ofstream(kSettings.file, std::ios::binary).write(bytes, length);
  free(bytes);
  plist_free(root);
}

plist_t quoradex(const std::vector<std::pair<const char*, plist_t>>& entries) {
  plist_t dict = plist_new_dict();
  for (const auto& [key, value] : entries)
    plist_dict_set_item(dict, key, value);
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "quoradex", dict);
  return root;
}

TEST_F(ServerSettings, ReadsCredentialsFromABinaryListThroughPlutil) {
  writeSettings(quoradex({{"ServerIp", plist_new_string("print.example:8080")},
                          {"UserName", plist_new_string("Jo Doe")},
                          {"PassWord2", plist_new_string("s3cret pw")},
                          {"Token", plist_new_string("")},
                          {"Other", plist_new_string("kept nowhere")}}),
                true);
  ConfigInfo config = read();
  EXPECT_EQ(config.ServerIp, "print.example:8080");
  EXPECT_EQ(config.UserName, "Jo Doe");
  EXPECT_EQ(config.PassWord2, "s3cret pw");
  EXPECT_EQ(config.Token, ",");
  EXPECT_EQ(config.AuthMode, "");
  EXPECT_NE(out_.find("Key: PassWord2, Value: \"s3cret pw\"\n"), std::string::npos) << out_;
  EXPECT_NE(log_.str().find(" PassWord2:***\n"), std::string::npos) << log_.str();
  EXPECT_NE(log_.str().find(" Token:***\n"), std::string::npos) << log_.str();
  EXPECT_EQ(log_.str().find("s3cret"), std::string::npos) << log_.str();
  EXPECT_NE(log_.str().find(" Other:\"kept nowhere\"\n"), std::string::npos) << log_.str();
  // The listing is left in place for all, and no per-job listing stays behind.
  EXPECT_TRUE(slurp(kSettings.listing).starts_with("{\n  \"quoradex\" => {\n"));
  auto entries = std::filesystem::directory_iterator(kSpool);
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);
}

TEST_F(ServerSettings, EveryKeyFillsItsFieldFromAnXmlList) {
  const char* keys[] = {"AuthMode",
                        "MAC",
                        "PassWord",
                        "PassWord2",
                        "SelectedPrinter",
                        "ServerIp",
                        "UserName",
                        "select_printer_name",
                        "ServerIP_Mode",
                        "rememberPassword",
                        "ClientId",
                        "QrCodeServer",
                        "Token"};
  std::vector<std::pair<const char*, plist_t>> entries;
  std::vector<std::string> expected;
  for (const char* key : keys) {
    entries.emplace_back(key, plist_new_string((std::string(key) + " value").c_str()));
    expected.push_back(std::string(key) + " value");
  }
  writeSettings(quoradex(entries), false);
  EXPECT_EQ(fields(read()), expected);
}

TEST_F(ServerSettings, ListingsThatFailOrStopPartway) {
  struct Case {
    const char* name;
    const char* listing;
    std::vector<std::string> expected;
    const char* logged;
  } cases[] = {
      {"empty string closing the dict",
       "{\n  \"quoradex\" => {\n    \"UserName\" => \"\"\n  }\n}\n",
       {"", "", "", "", "", "", ","},
       "Contains quoradex"},
      {"no UserName",
       "{\n  \"quoradex\" => {\n    \"ServerIp\" => \"h\"\n  }\n}\n",
       {"", "", "", "", "", "h", ""},
       "Contains quoradex"},
      {"keys matched exactly",
       "{\"quoradex\" => {\"ServerIP\" => \"x\" \"serverip\" => \"y\" \"ServerIP_Mode\" => \"1\"}}",
       {"", "", "", "", "", "", "", "", "1"},
       " serverip:\"y\""},
      {"number in the middle",
       "{\"quoradex\" => {\"MAC\" => 5\n\"UserName\" => \"b\"}}",
       {},
       "Caught exception: [json.exception.parse_error"},
      {"nested dict in the middle",
       "{\"quoradex\" => {\"A\" => {\"k\" => \"v\"}\n\"UserName\" => \"b\"}}",
       {},
       "Caught exception: [json.exception.parse_error"},
      {"non-string closing the dict, later keys unread",
       "{\"quoradex\" => {\"AuthMode\" => \"m\" \"rememberPassword\" => \"r\" \"ServerIp\" => "
       "\"h\" "
       "\"Token\" => true}}",
       {"m", "", "", "", "", "h"},
       "Caught exception: [json.exception.type_error.302]"},
      {"quoradex a string", "{\"quoradex\" => \"srv\"}", {}, " :\"srv\""},
      {"quoradex an array", "{\"quoradex\" => [\"a\" \"b\"]}", {}, " 1:\"b\""},
      {"quote inside a value",
       "{\"quoradex\" => {\"UserName\" => \"a\"b\"\n\"Token\" => \"t\"}}",
       {},
       "Caught exception: [json.exception.parse_error"},
      {"escaped quote, the blank after it dropped",
       "{\"quoradex\" => {\"UserName\" => \"a\\\" b\"\n\"Token\" => \"t\"}}",
       {"", "", "", "", "", "", "a\"b", "", "", "", "", "", "t"},
       "Contains quoradex"},
      {"not JSON",
       "{\n  \"When\" => 2032-09-09 01:46:40 +0000\n}\n",
       {},
       "Caught exception: [json.exception.parse_error"},
      {"empty listing", "", {}, "Caught exception: [json.exception.parse_error"},
      {"top level not an object", "[\"quoradex\"]", {}, "JSON object does not contain 'quoradex'"},
      {"no quoradex",
       "{\"other\" => {\"UserName\" => \"b\"}}",
       {},
       "JSON object does not contain 'quoradex'"},
  };
  useListingAsIs();
  for (Case& c : cases) {
    c.expected.resize(13);
    std::ofstream(kSettings.file) << c.listing;
    log_.str("");
    EXPECT_EQ(fields(read()), c.expected) << c.name;
    EXPECT_NE(log_.str().find(c.logged), std::string::npos) << c.name << "\n" << log_.str();
    const std::string logged = c.logged;
    if (logged.starts_with("Caught") || logged.starts_with("JSON")) {
      EXPECT_EQ(outcome_.failure, Failure::kSettingsUnreadable) << c.name;
      EXPECT_TRUE(outcome_.detail.starts_with(logged)) << c.name << ": " << outcome_.detail;
      EXPECT_NE(log_.str().find(" " + outcome_.detail + "\n"), std::string::npos) << c.name;
    } else {
      EXPECT_TRUE(outcome_.ok()) << c.name << ": " << outcome_.detail;
    }
    if (logged.find("parse_error") != std::string::npos) {
      EXPECT_EQ(outcome_.detail, ThrownParseError(c.listing)) << c.name;
    }
    bool parsed = log_.str().find("Parsed JSON successfully.") != std::string::npos;
    EXPECT_EQ(parsed, log_.str().find("parse_error") == std::string::npos) << c.name;
  }
}

// The parser's message quotes the text where it stopped: no part of a password may reach the log
// so.
TEST_F(ServerSettings, ParseErrorNeverQuotesASecret) {
  useListingAsIs();
  std::ofstream(kSettings.file) << "{\"quoradex\" => {\"PassWord2\" => \"s3cr\\et\"}}";
  EXPECT_EQ(fields(read()), std::vector<std::string>(13));
  EXPECT_NE(log_.str().find("Caught exception: [json.exception.parse_error"), std::string::npos);
  EXPECT_EQ(log_.str().find("s3cr"), std::string::npos) << log_.str();
}

// A signal caught while plutil is still printing (a handler that does not restart calls, as a
// fuzzer's timer has) must not cut the listing short.
TEST_F(ServerSettings, SignalWhilePlutilPrintsCutsNothingShort) {
  std::string dir = kScratch + "/slow-plutil";
  mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/plutil") << "#!/bin/sh\nprintf '{\"quoradex\" => {'\nsleep 0.3\n"
                                    "printf '\"UserName\" => \"b\"}}\\n'\n";
  chmod((dir + "/plutil").c_str(), 0755);
  usePlutil(dir);
  struct sigaction tick {
  }, saved{};
  tick.sa_handler = [](int) {};
  sigaction(SIGALRM, &tick, &saved);
  itimerval every{{0, 20000}, {0, 20000}}, off{};
  setitimer(ITIMER_REAL, &every, nullptr);
  ConfigInfo config = read();
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &saved, nullptr);
  EXPECT_EQ(config.UserName, "b") << out_;
}

TEST_F(ServerSettings, WithoutPlutilTheEmptyListingFailsToParse) {
  writeSettings(quoradex({{"UserName", plist_new_string("b")}}), true);
  setenv("PATH", (kScratch + "/no-such-dir").c_str(), 1);
  EXPECT_EQ(fields(read()), std::vector<std::string>(13));
  EXPECT_NE(log_.str().find("Caught exception: "), std::string::npos) << log_.str();
  EXPECT_EQ(slurp(kSettings.listing), "");
}

// A FIFO or a huge file in the settings' place must neither hold the job nor fill its memory.
TEST_F(ServerSettings, SettingsBeyondTheBoundsCountAsUnreadable) {
  const std::string huge =
      "{\"quoradex\" => {\"UserName\" => \"" + std::string(2 << 20, 'u') + "\"}}";
  struct Case {
    const char* name;
    bool listingAsIs, fifo, earlierListingOnly;
    const char* logged;
  } cases[] = {
      {"FIFO as the settings file", false, true, false, "plutil did not finish within 10 s"},
      {"listing over 1 MiB", true, false, false, "settings listing larger than 1048576 bytes"},
      {"earlier listing over 1 MiB", true, false, true,
       "settings listing larger than 1048576 bytes"},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    if (c.listingAsIs)
      useListingAsIs();
    if (c.fifo) {
      ASSERT_EQ(mkfifo(kSettings.file.c_str(), 0600), 0);
    } else {
      std::ofstream(kSettings.file) << huge;
    }
    if (c.earlierListingOnly) {
      std::ofstream(kSettings.listing) << huge;
      mkdir((kSettings.listing + "." + std::to_string(getpid())).c_str(), 0755);
    }
    log_.str("");
    EXPECT_EQ(fields(read()), std::vector<std::string>(13)) << c.name;
    EXPECT_EQ(err_, "Could not open the file!\n") << c.name;
    EXPECT_NE(log_.str().find(c.logged), std::string::npos) << c.name << "\n" << log_.str();
  }
}

TEST_F(ServerSettings, WithoutAnyListingReportsIt) {
  std::system(("rm -rf '" + kSpool + "'").c_str());
  EXPECT_EQ(fields(read()), std::vector<std::string>(13));
  EXPECT_EQ(err_, "Could not open the file!\n");
  EXPECT_NE(log_.str().find(" Could not open the file!\n"), std::string::npos) << log_.str();
  EXPECT_EQ(outcome_.failure, Failure::kSettingsUnreadable);
  EXPECT_EQ(outcome_.detail, "Could not open the file!");
}

// The own listing cannot be made (its name is taken by a directory): an earlier job's is read.
TEST_F(ServerSettings, ReadsAnEarlierListingWhenItCannotWriteItsOwn) {
  writeSettings(quoradex({{"UserName", plist_new_string("new")}}), true);
  std::ofstream(kSettings.listing) << "{\"quoradex\" => {\"UserName\" => \"old\"}}";
  std::string own = kSettings.listing + "." + std::to_string(getpid());
  mkdir(own.c_str(), 0755);
  EXPECT_EQ(read().UserName, "old");
}

TEST_F(ServerSettings, NeverWritesThroughAPlantedSymlink) {
  writeSettings(quoradex({{"UserName", plist_new_string("b")}}), true);
  std::string victim = kSpool + "/victim";
  std::ofstream(victim) << "untouched";
  std::string own = kSettings.listing + "." + std::to_string(getpid());
  for (const std::string& link : {kSettings.listing, own}) {
    symlink(victim.c_str(), link.c_str());
    EXPECT_EQ(read().UserName, "b") << link;
    EXPECT_EQ(slurp(victim), "untouched") << link;
    struct stat info {};
    EXPECT_EQ(lstat(kSettings.listing.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << link;
  }
}

}  // namespace

}  // namespace vp
