#include "attributes/print_settings.h"

#include <gtest/gtest.h>

namespace vp {

namespace {

TEST(PrintSettings, OnePairPerSpaceSeparatedToken) {
  struct Case {
    std::string text;
    std::vector<OptionPair> expected;
  } cases[] = {
      {"a=1 b=2", {{"a", "1"}, {"b", "2"}}},
      {"", {{"", ""}}},
      {" ", {{"", ""}, {"", ""}}},
      {"a=1  b=2", {{"a", "1"}, {"", ""}, {"b", "2"}}},
      {"a=1 ", {{"a", "1"}, {"", ""}}},
      {"a=1  b=2 ", {{"a", "1"}, {"", ""}, {"b", "2"}, {"", ""}}},
      {"flag x=", {{"", ""}, {"x", ""}}},
      {"a=b=c k= =x flag", {{"a", "b=c"}, {"k", ""}, {"", "x"}, {"", ""}}},
      {"k=1 k=2", {{"k", "1"}, {"k", "2"}}},
      {"title='My Doc'", {{"title", "'My"}, {"", ""}}},
      {"a=1\tb=2", {{"a", "1\tb=2"}}},
      {"com.apple.print.PrintSettings.PMDuplexing..n.=2 job-uuid=urn:uuid:a-b",
       {{"com.apple.print.PrintSettings.PMDuplexing..n.", "2"}, {"job-uuid", "urn:uuid:a-b"}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parsePrintSettings(c.text), c.expected) << testing::PrintToString(c.text);
  }
}

// Both views from one reading, the odd tokens each view treats its own way included.
TEST(PrintSettings, OneReadingGivesTheMapAndTheList) {
  struct Case {
    std::string text;
    OptionsMap map;
    std::vector<OptionPair> settings;
  } cases[] = {
      {"a==b", {{"a", "b"}}, {{"a", "=b"}}},
      {"a=b=c", {}, {{"a", "b=c"}}},
      {"=b a=", {}, {{"", "b"}, {"a", ""}}},
      {"k=1  k=2 ", {{"k", "2"}}, {{"k", "1"}, {"", ""}, {"k", "2"}, {"", ""}}},
      {"flag a=1\tb", {{"a", "1\tb"}}, {{"", ""}, {"a", "1\tb"}}},
      {"", {}, {{"", ""}}},
  };
  for (const Case& c : cases) {
    const JobOptions options = ReadJobOptions(c.text);
    EXPECT_EQ(options.map, c.map) << c.text;
    EXPECT_EQ(options.settings, c.settings) << c.text;
  }
}

TEST(PrintSettings, SplitsAtTheFirstEquals) {
  struct Case {
    std::string token;
    OptionPair expected;
  } cases[] = {
      {"a=b=c", {"a", "b=c"}}, {"k=", {"k", ""}}, {"=x", {"", "x"}}, {"flag", {"", ""}},
      {"", {"", ""}},          {"=", {"", ""}},   {"==", {"", "="}}, {"k=v w", {"k", "v w"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(splitKeyValue(c.token), c.expected) << c.token;
}

}  // namespace

}  // namespace vp
