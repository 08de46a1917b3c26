#include "util/job_log.h"

#include <sys/stat.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"
#include "util/job_files.h"
#include "util/safe_file.h"

namespace vp {

namespace {

// The check and administrators read the job log by these shapes.
TEST(JobLog, LinesHaveTheirShapes) {
  const std::string kStamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";
  std::ostringstream log;
  Log(log, "login success");
  Log(log, "tbytes", "42");
  LogPlain(log, "Device:virtual-printer:/");
  EXPECT_TRUE(std::regex_match(log.str(), std::regex(kStamp + " login success\n" + kStamp +
                                                     " tbytes:42\nDevice:virtual-printer:/\n")))
      << log.str();
}

class OpenJobLogTest : public ScratchDirTest {};

// The log begins with the version line; a log that cannot be opened gives the scheduler's error
// line naming it.
TEST_F(OpenJobLogTest, OpensAfreshOrSaysWhyNot) {
  ASSERT_TRUE(WriteFile(dir_ + "not-a-folder", ""));
  const struct {
    std::string logDir;
    bool opened;
    std::string err;
  } kCases[] = {
      {dir_ + "log/", true, ""},
      {dir_ + "not-a-folder/", false, "ERROR:" + dir_ + "not-a-folder/vlog.txt: Not a directory\n"},
  };
  for (const auto& c : kCases) {
    const JobFiles files(c.logDir, dir_ + "run/");
    if (c.opened) {  // an earlier job's log is not kept
      ASSERT_EQ(mkdir(c.logDir.c_str(), 0777), 0);
      ASSERT_TRUE(WriteFile(files.JobLogPath(), "earlier job\n"));
    }
    SafeOutFile log;
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenJobLog(files, log), c.opened) << c.logDir;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.logDir;
    log.close();
    if (c.opened) {
      std::vector<std::string> lines = Unstamped(ReadFile(files.JobLogPath()));
      EXPECT_EQ(lines, std::vector<std::string>{"Starting build version:2023-09-01-001"});
    }
  }
}

}  // namespace

}  // namespace vp
