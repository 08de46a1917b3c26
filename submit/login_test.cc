#include "submit/login.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "submit/print_server_process.h"

namespace {

constexpr char kLoginPath[] = "/quoradex/printservice/authbyuserpwd2?username=";

TEST(PercentEncodeTest, KeepsUnreservedAndEncodesTheRest) {
  struct Case {
    std::string text;
    std::string encoded;
  };
  const Case cases[] = {
      {"", ""},
      {"Alice_01-x.y~z", "Alice_01-x.y~z"},
      {"a&b=c#d+e f", "a%26b%3Dc%23d%2Be%20f"},
      {"100%", "100%25"},
      {"caf\xc3\xa9", "caf%C3%A9"},
      {std::string("\0/?", 3), "%00%2F%3F"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(percentEncode(c.text), c.encoded) << c.text;
  }
}

TEST(LoginAddressTest, BaseAddressFollowsTheServerSetting) {
  struct Case {
    std::string server;
    std::string address;
  };
  const Case cases[] = {
      {"a:8080", std::string("http://a:8080") + kLoginPath + "u&pwd=p&mac=00"},
      {"https://srv:8443", std::string("https://srv:8443") + kLoginPath + "u&pwd=p&mac=00"},
      {"", std::string("http://") + kLoginPath + "u&pwd=p&mac=00"},
      {"http://a", std::string("http://http://a") + kLoginPath + "u&pwd=p&mac=00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(loginAddress(c.server, "u", "p"), c.address) << c.server;
  }
}

class LoginTest : public ::testing::Test {
 protected:
  // Credentials that only reach the server intact when encoded.
  static constexpr char kUser[] = "alice m";
  static constexpr char kPassword[] = "p&w=d #1+x";

  bool startServer(const std::string& mode) {
    return server_.start({"--mode", mode, "--user", std::string(kUser) + ":" + kPassword});
  }

  PrintServerProcess server_;
  std::ostringstream log_;
};

TEST_F(LoginTest, CredentialsWithQuerySignsReachTheServerIntact) {
  ASSERT_TRUE(startServer("ok"));
  std::string answer = authByUserName(log_, server_.address(), kUser, kPassword);
  nlohmann::json reply = nlohmann::json::parse(answer);
  EXPECT_EQ(reply["code"], "01");
  EXPECT_EQ(reply["token"].get<std::string>().size(), 32u);
  EXPECT_NE(log_.str().find("Request successful. Response:\n" + answer + "\n"), std::string::npos);
}

TEST_F(LoginTest, JobLogShowsTheAddressWithoutThePassword) {
  ASSERT_TRUE(startServer("ok"));
  authByUserName(log_, server_.address(), kUser, kPassword);
  std::string expected =
      " url:\nhttp://" + server_.address() + kLoginPath + "alice%20m&pwd=***&mac=00\n";
  EXPECT_NE(log_.str().find(expected), std::string::npos) << log_.str();
  EXPECT_EQ(log_.str().find("p%26w"), std::string::npos);
  EXPECT_EQ(log_.str().find(kPassword), std::string::npos);
}

TEST_F(LoginTest, RefusalAndErrorPagesAreReturnedAsAnswered) {
  struct Case {
    std::string mode;
    std::string password;
    std::string inAnswer;
  };
  const Case cases[] = {
      {"ok", "wrong", R"("code":"02")"},
      {"refuse", kPassword, R"("code":"02")"},
      {"html-barcode", kPassword, "barcode"},
      {"no-code", kPassword, "denied"},
  };
  for (const Case& c : cases) {
    PrintServerProcess server;
    ASSERT_TRUE(server.start({"--mode", c.mode, "--user", std::string(kUser) + ":" + kPassword}));
    std::string answer = authByUserName(log_, server.address(), kUser, c.password);
    EXPECT_NE(answer.find(c.inAnswer), std::string::npos) << c.mode << ": " << answer;
  }
}

TEST_F(LoginTest, RefusedConnectionReturnsTheCurlCode) {
  int unused = UnusedLoopbackPort();
  ASSERT_GT(unused, 0);
  EXPECT_EQ(authByUserName(log_, "127.0.0.1:" + std::to_string(unused), kUser, kPassword), "7");
  EXPECT_NE(log_.str().find(" Request failed. Error code: 7\n"), std::string::npos);
}

TEST_F(LoginTest, StalledServerIsLeftAfterTheTimeout) {
  ASSERT_TRUE(startServer("stall"));
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(authByUserName(log_, server_.address(), kUser, kPassword), "28");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(8));
}

TEST_F(LoginTest, EndlessAnswerIsCutOff) {
  ASSERT_TRUE(server_.start({"--mode", "huge-answer", "--huge-bytes", "100000000"}));
  EXPECT_EQ(authByUserName(log_, server_.address(), kUser, kPassword), "23");
}

TEST_F(LoginTest, HttpsServerWithSelfSignedCertificateIsAccepted) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vp-login-tls-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string cert, key;
  ASSERT_TRUE(MakeSelfSignedCertificate(dir.string(), cert, key));
  ASSERT_TRUE(server_.start(
      {"--tls-cert", cert, "--tls-key", key, "--user", std::string(kUser) + ":" + kPassword}));
  std::string answer = authByUserName(log_, "https://" + server_.address(), kUser, kPassword);
  EXPECT_NE(answer.find(R"("code":"01")"), std::string::npos) << answer;
  EXPECT_NE(log_.str().find("url:\nhttps://" + server_.address() + kLoginPath), std::string::npos);
  std::filesystem::remove_all(dir);
}

}  // namespace
