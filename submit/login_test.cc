#include "submit/login.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/print_server_process.h"
#include "tests/support/scratch_dir.h"

namespace vp {

namespace {

constexpr char kLoginPath[] = "/quoradex/printservice/authbyuserpwd2?username=";

// The JSON library's own words on the answers it cannot read as a job reads them: its throwing
// access, which the backend no longer uses, is the reference.
std::string ThrowingReading(const std::string& body) {
  if (body.find("code") == std::string::npos)
    return "";
  try {
    nlohmann::json reply = nlohmann::json::parse(body);
    if (reply.at("code").get<std::string>() == kLoginAccepted)
      reply.at("token").get<std::string>();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(JudgeLoginTest, ReadsEveryAnswerAsTheBackendAndTheCheckDo) {
  struct Case {
    LoginAnswer answer;
    LoginVerdict verdict;
    std::string code;
    std::string token;
    std::string errorStart;  // empty: no error
  };
  const auto body = [](const std::string& text) { return LoginAnswer{true, text, 0, true}; };
  const Case cases[] = {
      {body(R"({"code":"01","token":"t0k"})"), LoginVerdict::kAccepted, "01", "t0k", ""},
      {body(R"({"code":"02","msg":"bad password"})"), LoginVerdict::kRefused, "02", "", ""},
      {body(R"({"code":"","token":"t"})"), LoginVerdict::kRefused, "", "", ""},
      {body(R"({"code":"01"})"), LoginVerdict::kUnreadable, "01", "",
       "[json.exception.out_of_range.403] key 'token' not found"},
      {body(R"({"code":"01","token":7})"), LoginVerdict::kUnreadable, "01", "",
       "[json.exception.type_error.302] type must be string, but is number"},
      {body(R"({"code":1})"), LoginVerdict::kUnreadable, "", "",
       "[json.exception.type_error.302] type must be string, but is number"},
      {body(R"({"errcode":"01"})"), LoginVerdict::kUnreadable, "", "",
       "[json.exception.out_of_range.403] key 'code' not found"},
      {body(R"(["code"])"), LoginVerdict::kUnreadable, "", "",
       "[json.exception.type_error.304] cannot use at() with array"},
      {body(R"("code")"), LoginVerdict::kUnreadable, "", "",
       "[json.exception.type_error.304] cannot use at() with string"},
      {body(R"({"code":"01","token":"t)"), LoginVerdict::kUnreadable, "", "",
       "[json.exception.parse_error.101] parse error at line 1, column 24"},
      {body("<html>code</html>"), LoginVerdict::kUnreadable, "", "",
       "[json.exception.parse_error.101] parse error at line 1, column 1"},
      {body(R"({"code":"01","token":"t"} x)"), LoginVerdict::kUnreadable, "", "",
       "[json.exception.parse_error.101]"},
      // Without the word the answer is not read as JSON at all, even when it would parse.
      {body(R"({"\u0063ode":"01","token":"t"})"), LoginVerdict::kUnreadable, "", "", ""},
      {body("<html>Internal error</html>"), LoginVerdict::kUnreadable, "", "", ""},
      {body(""), LoginVerdict::kUnreadable, "", "", ""},
      // A bare number is the server's answer, not libcurl's result.
      {body("7"), LoginVerdict::kUnreadable, "", "", ""},
      {LoginAnswer{false, "", CURLE_COULDNT_CONNECT, false}, LoginVerdict::kUnreachable, "", "",
       ""},
      {LoginAnswer{false, "", CURLE_OPERATION_TIMEDOUT, true}, LoginVerdict::kUnreachable, "", "",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.body);
    LoginJudgement judgement = JudgeLogin(c.answer);
    EXPECT_EQ(judgement.verdict, c.verdict);
    EXPECT_EQ(judgement.code, c.code);
    EXPECT_EQ(judgement.token, c.token);
    EXPECT_TRUE(judgement.error.starts_with(c.errorStart)) << judgement.error;
    EXPECT_EQ(judgement.error.empty(), c.errorStart.empty()) << judgement.error;
    if (c.answer.answered) {
      EXPECT_EQ(judgement.error, ThrowingReading(c.answer.body));
    }
  }
}

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

TEST(MaskTokensTest, HidesEveryTokenValueAndNothingElse) {
  struct Case {
    std::string answer, masked;
  } cases[] = {
      {R"({"code":"01","token":"abc"})", R"({"code":"01","token":"***"})"},
      {R"({"token" : "a\"b\\", "x":"token"})", R"({"token" : "***", "x":"token"})"},
      {R"([{"token":"1"},{"token":"2"}])", R"([{"token":"***"},{"token":"***"}])"},
      {R"({"code":"02"})", R"({"code":"02"})"},
      {R"({"token":12})", R"({"token":12})"},
      {R"({"code":"01","token":"cut off)", R"({"code":"01","token":"***)"},
      {R"({"token":"cut after \)", R"({"token":"***)"},
      {"<html>token</html>", "<html>token</html>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(maskTokens(c.answer), c.masked) << c.answer;
}

TEST(TraceTextTest, WritesWhatLibcurlWouldWithoutTheSecrets) {
  struct Case {
    curl_infotype type;
    std::string text, written;
  } cases[] = {
      {CURLINFO_TEXT, "Connected to a (127.0.0.1) port 80\n",
       "* Connected to a (127.0.0.1) port 80\n"},
      {CURLINFO_HEADER_OUT, "GET /q?username=u&pwd=p%26w&mac=00 HTTP/1.1\r\nHost: a\r\n\r\n",
       "> GET /q?username=u&pwd=***&mac=00 HTTP/1.1\r\nHost: a\r\n\r\n"},
      {CURLINFO_TEXT, "Issue another request to this URL: 'http://a/q?pwd=p'\n",
       "* Issue another request to this URL: 'http://a/q?pwd=***'\n"},
      {CURLINFO_HEADER_IN, "Set-Cookie: token=abc; Path=/\r\n",
       "< Set-Cookie: token=***; Path=/\r\n"},
      {CURLINFO_HEADER_IN, R"(X-Session: {"token":"abc"})", R"(< X-Session: {"token":"***"})"},
      {CURLINFO_DATA_IN, R"({"code":"01","token":"abc"})", ""},
      {CURLINFO_HEADER_OUT, "GET / HTTP/1.1\r\nAuthorization: Basic YTpi\r\n\r\n",
       "> GET / HTTP/1.1\r\nAuthorization: Basic ***\r\n\r\n"},
      // What the server sends stays on its one line, where the scheduler reads no command.
      {CURLINFO_HEADER_IN, "X: a\nSTATE: +media-empty\r\n", "< X: a STATE: +media-empty\r\n"},
      {CURLINFO_TEXT, "subject: CN=\x1b[2J\rok\n", "* subject: CN= [2J ok\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TraceText(c.type, c.text), c.written) << c.text;
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

TEST(ServerUnreachableTest, OnlyWhenNoConnectionWasMade) {
  struct Case {
    int result;
    bool connected;
    bool unreachable;
  } cases[] = {
      {CURLE_COULDNT_RESOLVE_HOST, false, true},
      {CURLE_COULDNT_RESOLVE_PROXY, false, true},
      {CURLE_COULDNT_CONNECT, false, true},
      {CURLE_OPERATION_TIMEDOUT, false, true},
      // Connected, then the time ran out: the server was reached and did not answer.
      {CURLE_OPERATION_TIMEDOUT, true, false},
      {CURLE_OK, true, false},
      {CURLE_GOT_NOTHING, true, false},
      {CURLE_RECV_ERROR, true, false},
      {CURLE_WRITE_ERROR, true, false},
      {CURLE_SSL_CONNECT_ERROR, true, false},
      {CURLE_URL_MALFORMAT, false, false},
      {CURLE_UNSUPPORTED_PROTOCOL, false, false},
      {CURLE_FAILED_INIT, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ServerUnreachable(c.result, c.connected), c.unreachable)
        << curl_easy_strerror(static_cast<CURLcode>(c.result)) << ", connected " << c.connected;
  }
}

class LoginTest : public ScratchDirTest {
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

TEST_F(LoginTest, CredentialsReachTheServerIntactButNotTheLog) {
  ASSERT_TRUE(startServer("ok"));
  testing::internal::CaptureStderr();
  LoginAnswer login = authByUserName(log_, server_.address(), kUser, kPassword);
  std::string trace = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(login.answered);
  const std::string& answer = login.body;
  EXPECT_NE(trace.find("> GET /quoradex/printservice/authbyuserpwd2?username=alice%20m&pwd=***&"),
            std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("p%26w"), std::string::npos) << trace;
  nlohmann::json reply = nlohmann::json::parse(answer);
  EXPECT_EQ(reply["code"], "01");
  EXPECT_EQ(reply["token"].get<std::string>().size(), 32u);
  std::string url =
      " url:\nhttp://" + server_.address() + kLoginPath + "alice%20m&pwd=***&mac=00\n";
  EXPECT_NE(log_.str().find(url), std::string::npos) << log_.str();
  EXPECT_NE(log_.str().find(" Request successful. Response:\n" + maskTokens(answer) + "\n"),
            std::string::npos);
  EXPECT_EQ(log_.str().find(reply["token"].get<std::string>()), std::string::npos);
  EXPECT_EQ(log_.str().find("p%26w"), std::string::npos);
}

TEST_F(LoginTest, AnyHttpAnswerIsReturnedAsTheBody) {
  ASSERT_TRUE(startServer("html-barcode"));
  LoginAnswer login = authByUserName(log_, server_.address(), kUser, kPassword);
  ASSERT_TRUE(login.answered);
  const std::string& answer = login.body;
  EXPECT_EQ(answer.rfind("<html>", 0), 0u) << answer;
  EXPECT_NE(answer.find("barcode"), std::string::npos);
}

TEST_F(LoginTest, EndlessAnswerIsCutOff) {
  ASSERT_TRUE(server_.start({"--mode", "huge-answer", "--huge-bytes", "100000000"}));
  LoginAnswer login = authByUserName(log_, server_.address(), kUser, kPassword);
  EXPECT_FALSE(login.answered);
  EXPECT_EQ(login.curlResult, CURLE_WRITE_ERROR);
  EXPECT_TRUE(login.body.empty());
}

TEST_F(LoginTest, HttpsServerWithSelfSignedCertificateIsAccepted) {
  std::string cert, key;
  ASSERT_TRUE(MakeSelfSignedCertificate(dir_, cert, key));
  ASSERT_TRUE(server_.start(
      {"--tls-cert", cert, "--tls-key", key, "--user", std::string(kUser) + ":" + kPassword}));
  std::string answer = authByUserName(log_, "https://" + server_.address(), kUser, kPassword).body;
  EXPECT_NE(answer.find(R"("code":"01")"), std::string::npos) << answer;
  EXPECT_NE(log_.str().find("url:\nhttps://" + server_.address() + kLoginPath), std::string::npos);
}

TEST_F(LoginTest, TellsWhetherTheServerWasReached) {
  ASSERT_TRUE(startServer("ok"));
  PrintServerProcess refusing;
  ASSERT_TRUE(refusing.start({"--mode", "refuse"}));
  struct Case {
    std::string server;
    bool answered;  // else libcurl's result tells why not
    int result;
    bool connected;
  } cases[] = {
      {server_.address(), true, CURLE_OK, true},
      {refusing.address(), true, CURLE_OK, true},
      {"127.0.0.1:" + std::to_string(UnusedLoopbackPort()), false, CURLE_COULDNT_CONNECT, false},
      {"no-such-host.invalid", false, CURLE_COULDNT_RESOLVE_HOST, false},
      {"", false, CURLE_URL_MALFORMAT, false},
  };
  for (const Case& c : cases) {
    LoginAnswer answer = authByUserName(log_, c.server, kUser, kPassword);
    EXPECT_EQ(answer.connected, c.connected) << c.server;
    EXPECT_EQ(answer.answered, c.answered) << c.server;
    EXPECT_EQ(answer.curlResult, c.result) << c.server;
    if (c.answered) {
      EXPECT_NE(answer.body.find("\"code\""), std::string::npos) << c.server << ": " << answer.body;
    } else {
      EXPECT_TRUE(answer.body.empty()) << c.server;
    }
  }
}

}  // namespace

}  // namespace vp
