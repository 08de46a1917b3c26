#include "submit/notifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/print_server_process.h"

namespace vp {

namespace {

TEST(NotifyRequestTest, BodyCarriesTheContentAsIs) {
  EXPECT_EQ(notifyBody(""), R"({"messageId":"UploadJob","content":""})");
  EXPECT_EQ(notifyBody("5b3f-11"), R"({"messageId":"UploadJob","content":"5b3f-11"})");
}

TEST(NotifyRequestTest, TimestampIsMillisecondsAndNonceSignsIt) {
  std::string first = notifyTimestamp();
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  std::string second = notifyTimestamp();
  for (const std::string& ts : {first, second}) {
    EXPECT_EQ(ts.size(), 13u) << ts;
    EXPECT_EQ(ts.find_first_not_of("0123456789"), std::string::npos) << ts;
    EXPECT_NE(ts[0], '0');
  }
  EXPECT_LT(std::stoll(first), std::stoll(second));
  EXPECT_NE(notifyNonce(kNotifierKey, first), notifyNonce(kNotifierKey, second));
}

// The digests are coreutils' `printf %s KEYTIMESTAMP | sha256sum`, what the notifier computes.
TEST(NotifyRequestTest, NonceIsTheDigestOfKeyThenTimestamp) {
  struct Row {
    const char* key;
    const char* timestamp;
    const char* nonce;
  };
  const Row rows[] = {
      {"9c1f07b2e4a65d38f0c2b7e91a4d60", "1700000000000",
       "be6e3499af7a32b6008733e523cd6272fae49637e3c89c8fbdf0560f1bb39d7b"},
      {"9c1f07b2e4a65d38f0c2b7e91a4d60", "",
       "d5191540e20a061658f2b81ba345779133e67c2de714c63841b40e167ed37142"},
      {"another-key", "1700000000000",
       "f02fe4cc24e16210aedbc6895d3f81dbf1f9e2cc1f52c7e2be464439c9644da4"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(notifyNonce(row.key, row.timestamp), row.nonce) << row.key << row.timestamp;
  EXPECT_STREQ(kNotifierKey, rows[0].key);
}

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.start({"--notifier-port", "0"})); }

  httplib::Result send(const std::string& key, const std::string& content) {
    return notify("127.0.0.1", server_.notifierPort(), key, content);
  }

  PrintServerProcess server_;
};

TEST_F(NotifyTest, SignedMessagesAreAccepted) {
  for (const std::string& content : {std::string("1f0c-uuid"), std::string()}) {
    httplib::Result result = send(kNotifierKey, content);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
  }
  std::vector<std::string> expected = {R"({"content":"1f0c-uuid","messageId":"UploadJob"})",
                                       R"({"content":"","messageId":"UploadJob"})"};
  EXPECT_EQ(Lines(ReadFile(server_.store() + "/notifications.log")), expected);
  EXPECT_TRUE(Lines(ReadFile(server_.store() + "/notifications-refused.log")).empty());
}

TEST_F(NotifyTest, MessageSignedWithAnotherKeyIsRefused) {
  httplib::Result result = send("0000", "1f0c-uuid");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 401);
  EXPECT_TRUE(Lines(ReadFile(server_.store() + "/notifications.log")).empty());
  std::vector<std::string> refused =
      Lines(ReadFile(server_.store() + "/notifications-refused.log"));
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].rfind("bad nonce\t", 0), 0u) << refused[0];
}

// Whatever the listener sends, the exchange ends at the limit and little of the answer is kept.
TEST(NotifyBoundTest, AnswerIsBoundedInTimeAndSize) {
  struct Case {
    const char* name;
    std::vector<std::string> flags;
    bool answered;
  } cases[] = {
      {"1 MB answer", {"--mode", "notifier-huge", "--huge-bytes", "1000000"}, true},
      {"endless answer", {"--mode", "notifier-huge", "--huge-bytes", "999999999999999999"}, false},
      {"a byte every 8 s, status line first", {"--mode", "notifier-trickle"}, false},
  };
  for (const Case& c : cases) {
    PrintServerProcess server;
    std::vector<std::string> flags = c.flags;
    flags.insert(flags.end(), {"--notifier-port", "0"});
    ASSERT_TRUE(server.start(flags)) << c.name;
    auto begin = std::chrono::steady_clock::now();
    httplib::Result result = NotifyWithin("127.0.0.1", server.notifierPort(), kNotifierKey,
                                          "1f0c-uuid", std::chrono::seconds(1));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3)) << c.name;
    ASSERT_EQ(static_cast<bool>(result), c.answered) << c.name;
    if (result) {
      EXPECT_EQ(result->body.size(), 4096u) << c.name;
    }
  }
}

TEST(NotifyWithoutListenerTest, FailsAtOnceWithoutAResponse) {
  int unused = UnusedLoopbackPort();
  ASSERT_GT(unused, 0);
  auto begin = std::chrono::steady_clock::now();
  httplib::Result result = notify("127.0.0.1", unused, kNotifierKey, "1f0c-uuid");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error(), httplib::Error::Connection);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

}  // namespace

}  // namespace vp
