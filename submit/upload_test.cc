#include "submit/upload.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "submit/login.h"
#include "tests/support/files.h"
#include "tests/support/print_server_process.h"
#include "tests/support/sample_job.h"
#include "tests/support/scratch_dir.h"
#include "util/job_files.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

TEST(EscapeStringTest, EscapesWhatJsonStringsNeed) {
  struct Case {
    std::string text;
    std::string escaped;
  };
  const Case cases[] = {
      {"Report 2024.pdf", "Report 2024.pdf"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"C:\\docs", "C:\\\\docs"},
      {"it's", "it's"},
      {"line1\nline2", "line1\\nline2"},
      {"\t\r\b\f", "\\t\\r\\b\\f"},
      {"\v\x01\x1f", "\\u000b\\u0001\\u001f"},
      {std::string("a\0b", 3), "a\\u0000b"},
      {"caf\xc3\xa9 \x7f", "caf\xc3\xa9 \x7f"},
      {"printer \xf0\x9f\x96\xa8", "printer \xf0\x9f\x96\xa8"},
      // Bytes that are not UTF-8 would make the description unparseable: read as Latin-1.
      {"Caf\xe9 Cr\xe8me", "Caf\\u00e9 Cr\\u00e8me"},
      {"cut \xe2\x82", "cut \\u00e2\\u0082"},
      {"overlong \xc0\xaf", "overlong \\u00c0\\u00af"},
      {"surrogate \xed\xa0\x80", "surrogate \\u00ed\\u00a0\\u0080"},
      {"beyond \xf4\x90\x80\x80", "beyond \\u00f4\\u0090\\u0080\\u0080"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeString(c.text), c.escaped) << c.text;
  }
}

TEST(PrintPropertiesTest, LayoutIsFixed) {
  EXPECT_EQ(printProperties(SampleJob()),
            "{\"terminaltype\": \"linux\",\"DocumentName\": \"Quarterly \\\"final\\\" report\","
            "\"AllPage\": \"12\",\"CopyCount\": \"2\",\"Paper\": \"ISOA4\",\"Duplexing\": "
            "\"TwoSided\",\"Color\":\"Color\",\"PageOrientation\": \"Portrait\",\"DriverName\": "
            "\"Generic PS\",\"DocumentLevel\": \"\xE5\x85\xAC\xE5\xBC\x80\"}");
}

TEST(PrintPropertiesTest, AnyFieldValueParsesBack) {
  JobInfo job;
  job.documentName = "it's a \\ \"test\"\n\x01";
  job.driverName = "HP \"LaserJet\" \\ 4";
  job.orientation = "Land\tscape";
  job.color = "\x1f";
  job.paper = "A4\xff";
  nlohmann::json parsed = nlohmann::json::parse(printProperties(job));
  EXPECT_EQ(parsed["DocumentName"], job.documentName);
  EXPECT_EQ(parsed["DriverName"], job.driverName);
  EXPECT_EQ(parsed["PageOrientation"], job.orientation);
  EXPECT_EQ(parsed["Color"], job.color);
  // Empty fields stay empty strings; the paper keeps its prefix.
  EXPECT_EQ(parsed["AllPage"], "");
  EXPECT_EQ(parsed["Paper"], "ISOA4\xc3\xbf");
  EXPECT_EQ(parsed["terminaltype"], "linux");
  EXPECT_EQ(parsed.size(), 10u);
  EXPECT_FALSE(parsed.contains("binding"));
}

// Bytes of every value, in a file larger than libcurl's and the server's buffers.
std::string binaryData(size_t size) {
  std::mt19937 random(7);
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    data[i] = static_cast<char>(i < 256 ? i : random() & 0xff);
  }
  return data;
}

class UploadTest : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    fs::create_directories(files().logDir());
    dataFileName_ = "upload-test-" + std::to_string(getpid()) + ".pdf";
    data_ = binaryData(3 * 1024 * 1024 + 17);
    ASSERT_TRUE(WriteFile(dataPath(), data_));
  }

  void TearDown() override {
    fs::remove(dataPath());
    ScratchDirTest::TearDown();
  }

  // The job's files in the test's own folder.
  JobFiles files() const { return JobFiles(dir_ + "log/", dir_ + "run/"); }
  std::string dataPath() const { return files().Path(dataFileName_); }

  bool startServer(const std::vector<std::string>& flags) {
    std::vector<std::string> all = {"--user", "alice:secret"};
    all.insert(all.end(), flags.begin(), flags.end());
    return server_.start(all);
  }

  // A token the server has issued.
  std::string login() {
    std::ostringstream ignored;
    return JudgeLogin(authByUserName(ignored, server_.address(), "alice", "secret")).token;
  }

  bool upload(const std::string& token) {
    return uploadFileToQuoradexV2(log_, files(), server_.address(), token, SampleJob(),
                                  dataFileName_)
        .outcome.ok();
  }

  PrintServerProcess server_;
  std::ostringstream log_;
  std::string dataFileName_;
  std::string data_;
};

TEST_F(UploadTest, ServerHoldsTheFileAndTheJobDescription) {
  ASSERT_TRUE(startServer({}));
  std::string token = login();
  ASSERT_FALSE(token.empty());
  ASSERT_TRUE(upload(token));
  std::vector<std::string> jobs = StoredJobs(server_.store());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_TRUE(ReadFile(jobs[0] + "/" + dataFileName_) == data_);
  EXPECT_EQ(ReadFile(jobs[0] + "/token"), token);
  nlohmann::json properties = nlohmann::json::parse(ReadFile(jobs[0] + "/printProperties"));
  EXPECT_EQ(properties["DocumentName"], SampleJob().documentName);
  EXPECT_EQ(properties["AllPage"], "12");
  EXPECT_EQ(properties["Paper"], "ISOA4");
  std::vector<std::string> form = Lines(ReadFile(jobs[0] + "/form"));
  std::vector<std::string> expected = {
      "token\t\t", "printProperties\t\t",
      "uploadfile\t" + dataFileName_ + "\tapplication/octet-stream"};
  EXPECT_EQ(form, expected);
  // The server's answer follows the operation's name in the log, raw.
  size_t marker = log_.str().find(" uploadFileToQuoradexV2\n");
  ASSERT_NE(marker, std::string::npos);
  nlohmann::json answer = nlohmann::json::parse(log_.str().substr(marker + 24), nullptr, false);
  EXPECT_EQ(answer.value("bytes", 0u), data_.size()) << log_.str();
}

TEST_F(UploadTest, AnyAnswerCountsAsDone) {
  struct Case {
    std::vector<std::string> flags;
    bool withToken;
    std::string inLog;
  };
  const Case cases[] = {
      {{}, false, "invalid token"},
      {{"--mode", "upload-error"}, true, "storage failure"},
  };
  for (const Case& c : cases) {
    PrintServerProcess server;
    ASSERT_TRUE(server.start(c.flags));
    std::ostringstream log;
    EXPECT_TRUE(uploadFileToQuoradexV2(log, files(), server.address(), c.withToken ? "t" : "",
                                       SampleJob(), dataFileName_)
                    .outcome.ok());
    EXPECT_NE(log.str().find(c.inLog), std::string::npos) << log.str();
    EXPECT_TRUE(StoredJobs(server.store()).empty());
  }
}

TEST_F(UploadTest, UnreadableDataFileSendsNothing) {
  ASSERT_TRUE(startServer({}));
  std::string token = login();
  std::string target = dataPath() + ".target";
  ASSERT_TRUE(WriteFile(target, "secret"));
  std::string link = "upload-test-link-" + std::to_string(getpid()) + ".pdf";
  fs::create_symlink(target, files().Path(link));
  for (const std::string& name : {std::string("no-such-job.pdf"), link}) {
    std::ostringstream log;
    EXPECT_FALSE(uploadFileToQuoradexV2(log, files(), server_.address(), token, SampleJob(), name)
                     .outcome.ok())
        << name;
    EXPECT_NE(log.str().find(" curl_easy_perform() failed: Failed to open/read local data"),
              std::string::npos)
        << log.str();
  }
  EXPECT_TRUE(StoredJobs(server_.store()).empty());
  fs::remove(files().Path(link));
  fs::remove(target);
}

TEST_F(UploadTest, BrokenTransfersFail) {
  std::ostringstream log;
  int unused = UnusedLoopbackPort();
  EXPECT_FALSE(uploadFileToQuoradexV2(log, files(), "127.0.0.1:" + std::to_string(unused), "t",
                                      SampleJob(), dataFileName_)
                   .outcome.ok());
  EXPECT_NE(log.str().find(" curl_easy_perform() failed: Couldn't connect to server\n"),
            std::string::npos)
      << log.str();
  ASSERT_TRUE(startServer({"--mode", "close-mid-upload"}));
  EXPECT_FALSE(upload(login()));
  EXPECT_NE(log_.str().find(" curl_easy_perform() failed: "), std::string::npos);
}

TEST_F(UploadTest, EndlessAnswerIsLoggedOnlyInPart) {
  ASSERT_TRUE(startServer({"--mode", "huge-answer", "--huge-bytes", "20000000"}));
  EXPECT_TRUE(
      uploadFileToQuoradexV2(log_, files(), server_.address(), "t", SampleJob(), dataFileName_)
          .outcome.ok());
  EXPECT_GT(log_.str().size(), 1000000u);
  EXPECT_LT(log_.str().size(), 1100000u);
}

TEST_F(UploadTest, HttpsServerWithSelfSignedCertificateIsAccepted) {
  std::string cert, key;
  ASSERT_TRUE(MakeSelfSignedCertificate(dir_, cert, key));
  ASSERT_TRUE(startServer({"--tls-cert", cert, "--tls-key", key}));
  std::ostringstream ignored;
  std::string https = "https://" + server_.address();
  std::string token = JudgeLogin(authByUserName(ignored, https, "alice", "secret")).token;
  EXPECT_TRUE(
      uploadFileToQuoradexV2(log_, files(), https, token, SampleJob(), dataFileName_).outcome.ok());
  std::vector<std::string> jobs = StoredJobs(server_.store());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_TRUE(ReadFile(jobs[0] + "/" + dataFileName_) == data_);
}

}  // namespace

}  // namespace vp
