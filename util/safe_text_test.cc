#include "util/safe_text.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(SafeText, ControlCharactersBecomeBlanksOrEscapes) {
  const struct {
    std::string text, oneLine, escaped;
  } kCases[] = {
      {"Q3 report", "Q3 report", "Q3 report"},
      {"a\nSTATE: +x\r\n", "a STATE: +x  ", "a\\nSTATE: +x\\r\\n"},
      {"\x1b[2Jok\tFAIL\x7f", " [2Jok FAIL ", "\\x1b[2Jok\\tFAIL\\x7f"},
      {"\0\x01\x1f "s, "    ", "\\x00\\x01\\x1f "},
      {"Bericht \xC3\xBC \\n", "Bericht \xC3\xBC \\n", "Bericht \xC3\xBC \\n"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(OnOneLine(c.text), c.oneLine) << c.text;
    EXPECT_EQ(EscapedControlCharacters(c.text), c.escaped) << c.text;
  }
}

TEST(SafeText, UserInformationOfAnAddressIsMasked) {
  const std::pair<const char*, const char*> kCases[] = {
      {"print.example:8080", "print.example:8080"},
      {"alice:pass@print.example:8080", "***@print.example:8080"},
      {"user:p@ssw0rd@host", "***@host"},
      {"alice:p#ss?x@host", "***@host"},
      {"https://alice:pw@host:8443/base@x", "https://***@host:8443/base@x"},
      {"https://host/base@x", "https://host/base@x"},
      {"@host", "@host"},
      {"/@x", "/@x"},
      {"", ""},
  };
  for (const auto& [address, shown] : kCases)
    EXPECT_EQ(MaskedUserInfo(address), shown) << address;
}

}  // namespace
