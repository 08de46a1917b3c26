#include "util/safe_text.h"

#include <string>

#include <gtest/gtest.h>

namespace vp {

namespace {

// What of a server address is secret, wherever the address is shown.
TEST(SafeText, UserInformationOfAnAddressIsMasked) {
  const std::pair<const char*, const char*> kCases[] = {
      {"print.example:8080", "print.example:8080"},
      {"user:p@ssw0rd@host", "***@host"},
      {"alice:p#ss?x@host", "***@host"},
      {"https://alice:pw@host:8443/base@x", "https://***@host:8443/base@x"},
      {"https://host/base@x", "https://host/base@x"},
      {"/@x", "/@x"},
  };
  for (const auto& [address, shown] : kCases)
    EXPECT_EQ(MaskedUserInfo(address), shown) << address;
}

}  // namespace

}  // namespace vp
