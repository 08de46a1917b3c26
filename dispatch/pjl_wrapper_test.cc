#include "dispatch/pjl_wrapper.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vp {

namespace {

namespace fs = std::filesystem;

const std::string kTrailer("\x1b%-12345X@PJL EOJ+\n%-12345X", 27);

class PjlWrapper : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    data_ = dir_ + "1f2e.pdf";
  }

  std::string data_;
};

JobInfo Job(const std::string& copies, const std::string& duplex, const std::string& binding) {
  JobInfo job;
  job.copies = copies;
  job.duplex = duplex;
  job.binding = binding;
  return job;
}

TEST_F(PjlWrapper, WrapsWithExactEnvelope) {
  const std::string pdf = "%PDF-1.4\n1 0 obj\n<<>>\nendobj\n%%EOF\n";
  struct Case {
    std::string name, title, data;
    JobInfo job;
    std::string expected;
  } cases[] = {
      {"one-sided", "Report", pdf, Job("2", "OneSided", ""),
       "\x1b%-12345X@PJL JOB NAME=Report\n@PJL SET QTY=2\n@PJL SET DUPLEX=OFF\n"
       "@PJL ENTER LANGUAGE=PDF\n" +
           pdf + kTrailer},
      {"long edge", "Report", pdf, Job("1", "TwoSided", "LONGEDGE"),
       "\x1b%-12345X@PJL JOB NAME=Report\n@PJL SET QTY=1\n@PJL SET BINDING=LONGEDGE\n"
       "@PJL SET DUPLEX=ON\n@PJL ENTER LANGUAGE=PDF\n" +
           pdf + kTrailer},
      {"short edge", "Report", pdf, Job("3", "TwoSided", "SHORTEDGE"),
       "\x1b%-12345X@PJL JOB NAME=Report\n@PJL SET QTY=3\n@PJL SET BINDING=SHORTEDGE\n"
       "@PJL SET DUPLEX=ON\n@PJL ENTER LANGUAGE=PDF\n" +
           pdf + kTrailer},
      {"empty title", "", pdf, Job("1", "OneSided", ""),
       "\x1b%-12345X@PJL JOB NAME=\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n"
       "@PJL ENTER LANGUAGE=PDF\n" +
           pdf + kTrailer},
      {"empty file", "T", "", Job("1", "OneSided", ""),
       "\x1b%-12345X@PJL JOB NAME=T\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n"
       "@PJL ENTER LANGUAGE=PDF\n" +
           kTrailer},
      {"title on one line", "a\nb \"c\"\r\x1b%-12345X", pdf, Job("1", "OneSided", ""),
       "\x1b%-12345X@PJL JOB NAME=a b \"c\"  %-12345X\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n"
       "@PJL ENTER LANGUAGE=PDF\n" +
           pdf + kTrailer},
      {"binary data", "T", std::string("%PDF-\0\xff\x1b\r\n", 10), Job("1", "OneSided", ""),
       "\x1b%-12345X@PJL JOB NAME=T\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n"
       "@PJL ENTER LANGUAGE=PDF\n" +
           std::string("%PDF-\0\xff\x1b\r\n", 10) + kTrailer},
  };
  for (const Case& c : cases) {
    WriteFile(data_, c.data);
    std::ostringstream log;
    ::testing::internal::CaptureStdout();
    JobInfo job = c.job;
    job.documentName = c.title;
    EXPECT_TRUE(WrapPdfInPjl(log, data_, job).ok()) << c.name;
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadFile(data_), c.expected) << c.name;
    EXPECT_EQ(
        out, "Content added to the beginning of the file.\nContent added to the end of the file.\n")
        << c.name;
    EXPECT_NE(log.str().find(" Processing pdf\n"), std::string::npos) << c.name;
    EXPECT_FALSE(fs::exists(data_ + ".tmp")) << c.name;
  }
}

TEST_F(PjlWrapper, CopiesLargeFileExactlyWithFilesMode) {
  // Larger than one copy block and not a multiple of it.
  std::string data(5 * 1024 * 1024 + 123, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7 + i / 4096);
  WriteFile(data_, data);
  mode_t old = umask(0);
  ::testing::internal::CaptureStdout();
  AddContentToBeginning(data_, "HEAD");
  ::testing::internal::GetCapturedStdout();
  umask(old);
  EXPECT_TRUE(ReadFile(data_) == "HEAD" + data);
  EXPECT_EQ(fs::status(data_).permissions(), fs::perms::all);
}

TEST_F(PjlWrapper, StaleTemporaryFileIsOverwritten) {
  WriteFile(data_, "%PDF-1.4\n");
  WriteFile(data_ + ".tmp", std::string(4096, 'x'));
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(AddContentToBeginning(data_, "HEAD\n").ok());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Content added to the beginning of the file.\n");
  EXPECT_EQ(ReadFile(data_), "HEAD\n%PDF-1.4\n");
  EXPECT_FALSE(fs::exists(data_ + ".tmp"));
}

// Whatever a local user plants at the temporary name, nothing outside the data file is written
// and the data file keeps its bytes.
TEST_F(PjlWrapper, RefusesTemporaryNameThatIsNotAFreshFile) {
  struct Case {
    std::string name;
    void (*plant)(const std::string& tmp, const std::string& victim);
  } cases[] = {
      {"symlink",
       [](const std::string& tmp, const std::string& victim) {
         ASSERT_EQ(symlink(victim.c_str(), tmp.c_str()), 0);
       }},
      {"dangling symlink",
       [](const std::string& tmp, const std::string& victim) {
         ASSERT_EQ(symlink((victim + ".none").c_str(), tmp.c_str()), 0);
       }},
      {"hard link",
       [](const std::string& tmp, const std::string& victim) {
         ASSERT_EQ(link(victim.c_str(), tmp.c_str()), 0);
       }},
      {"fifo",
       [](const std::string& tmp, const std::string&) { ASSERT_EQ(mkfifo(tmp.c_str(), 0666), 0); }},
      {"directory",
       [](const std::string& tmp, const std::string&) { ASSERT_TRUE(fs::create_directory(tmp)); }},
  };
  const std::string victim = dir_ + "victim";
  for (const Case& c : cases) {
    WriteFile(victim, "precious");
    WriteFile(data_, "%PDF-1.4\n");
    fs::remove_all(data_ + ".tmp");
    c.plant(data_ + ".tmp", victim);
    ::testing::internal::CaptureStdout();
    AddContentToBeginning(data_, "HEAD\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed to create temporary file.\n")
        << c.name;
    EXPECT_EQ(ReadFile(data_), "%PDF-1.4\n") << c.name;
    EXPECT_EQ(ReadFile(victim), "precious") << c.name;
    EXPECT_FALSE(fs::exists(victim + ".none")) << c.name;
  }
}

// A trailer without its header is no envelope: the wrap is whole or leaves the data as it was.
TEST_F(PjlWrapper, WrapThatCannotAddItsHeaderAddsNothing) {
  WriteFile(dir_ + "victim", "precious");
  ASSERT_EQ(symlink((dir_ + "victim").c_str(), (data_ + ".tmp").c_str()), 0);
  WriteFile(data_, "%PDF-");
  std::ostringstream log;
  ::testing::internal::CaptureStdout();
  Outcome wrapped = WrapPdfInPjl(log, data_, Job("1", "OneSided", ""));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed to create temporary file.\n");
  EXPECT_EQ(wrapped.failure, Failure::kEnvelopeIncomplete);
  EXPECT_EQ(wrapped.detail, "Failed to create temporary file.");
  EXPECT_EQ(ReadFile(data_), "%PDF-");
  EXPECT_NE(log.str().find("PJL envelope not added"), std::string::npos) << log.str();
}

TEST_F(PjlWrapper, DataPathThatIsNotAPlainFileIsNotTouched) {
  struct Case {
    std::string name;
    void (*plant)(const std::string& data, const std::string& victim);
  } cases[] = {
      {"symlink",
       [](const std::string& data, const std::string& victim) {
         ASSERT_EQ(symlink(victim.c_str(), data.c_str()), 0);
       }},
      {"fifo", [](const std::string& data,
                  const std::string&) { ASSERT_EQ(mkfifo(data.c_str(), 0666), 0); }},
  };
  const std::string victim = dir_ + "victim";
  for (const Case& c : cases) {
    WriteFile(victim, "precious");
    fs::remove(data_);
    c.plant(data_, victim);
    ::testing::internal::CaptureStdout();
    AddContentToBeginning(data_, "HEAD");
    AddContentToEnd(data_, "TAIL");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Failed to open file: " + data_ + "\nFailed to open file: " + data_ + "\n")
        << c.name;
    EXPECT_EQ(ReadFile(victim), "precious") << c.name;
    EXPECT_FALSE(fs::exists(data_ + ".tmp")) << c.name;
  }
}

TEST_F(PjlWrapper, MissingDataFileGetsOnlyTheAppendedPart) {
  ::testing::internal::CaptureStdout();
  Outcome head = AddContentToBeginning(data_, "HEAD");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed to open file: " + data_ + "\n");
  EXPECT_EQ(head.failure, Failure::kEnvelopeIncomplete);
  EXPECT_EQ(head.detail, "Failed to open file: " + data_);
  EXPECT_FALSE(fs::exists(data_));
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(AddContentToEnd(data_, "TAIL").ok());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Content added to the end of the file.\n");
  EXPECT_EQ(ReadFile(data_), "TAIL");
}

// A file-size limit makes writes fail part-way, as a full disk would.
void RunWithFileSizeLimit(rlim_t limit, void (*operation)(const std::string&),
                          const std::string& path) {
  dup2(STDERR_FILENO, STDOUT_FILENO);
  signal(SIGXFSZ, SIG_IGN);
  rlimit rl{limit, limit};
  if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
    _exit(2);
  operation(path);
  std::cout.flush();
  _exit(0);
}

TEST_F(PjlWrapper, WriteErrorLeavesDataFileUnchanged) {
  const std::string data(64 * 1024, 'd');
  WriteFile(data_, data);
  EXPECT_EXIT(
      RunWithFileSizeLimit(
          32 * 1024, [](const std::string& path) { AddContentToBeginning(path, "HEAD"); }, data_),
      ::testing::ExitedWithCode(0),
      "Failed to write temporary file, file left unchanged: .*1f2e.pdf");
  EXPECT_TRUE(ReadFile(data_) == data);
  EXPECT_FALSE(fs::exists(data_ + ".tmp"));

  EXPECT_EXIT(
      RunWithFileSizeLimit(
          data.size() + 5, [](const std::string& path) { AddContentToEnd(path, kTrailer); }, data_),
      ::testing::ExitedWithCode(0), "Failed to write file, file left unchanged: .*1f2e.pdf");
  EXPECT_TRUE(ReadFile(data_) == data);
}

}  // namespace

}  // namespace vp
