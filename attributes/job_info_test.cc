#include "attributes/job_info.h"

#include <gtest/gtest.h>

namespace vp {

namespace {

TEST(StrSplit, DropsEmptyPieces) {
  struct Case {
    std::string text, delimiters;
    std::vector<std::string> expected;
  } cases[] = {
      {"", " ", {}},           {"a=1  b=2 ", " ", {"a=1", "b=2"}},
      {"  ", " ", {}},         {"a==b", "=", {"a", "b"}},
      {"=b", "=", {"b"}},      {"a,b;c", ",;", {"a", "b", "c"}},
      {"a\tb", " ", {"a\tb"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(strSplit(c.text, c.delimiters), c.expected) << c.text;
}

TEST(GetKeyValue, KeepsOnlyWellFormedPairsAndLaterWins) {
  struct Case {
    const char* options;
    OptionsMap expected;
  } cases[] = {
      {"a=1  b=2 ", {{"a", "1"}, {"b", "2"}}},
      {"a=b=c", {}},
      {"a==b", {{"a", "b"}}},
      {"=b a=", {}},
      {"k=1 k=2", {{"k", "2"}}},
      {"title='My Doc'", {{"title", "'My"}}},
      {"job-uuid=urn:uuid:1f2e-3d", {{"job-uuid", "urn:uuid:1f2e-3d"}}},
      {"a=1\tb", {{"a", "1\tb"}}},
      {"", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetKeyValue(c.options), c.expected) << c.options;
}

TEST(FindCaseInsensitive, FindsAsciiLettersRegardlessOfCase) {
  struct Case {
    std::string text, word;
    size_t expected;
  } cases[] = {
      {"HP Color LaserJet", "color", 3},
      {"Gray", "Grayscale", std::string::npos},
      {"", "", std::string::npos},
      {"abc", "", 0},
      {"Colorful", "COLOR", 0},
      {"xxCoLoR", "color", 2},
      {"\xc3\xa9", "\xc3\x89", std::string::npos},
  };
  for (const Case& c : cases)
    EXPECT_EQ(findCaseInsensitive(c.text, c.word), c.expected) << c.text;
}

}  // namespace

}  // namespace vp
