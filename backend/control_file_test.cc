#include "backend/control_file.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace vp {

namespace {

using ControlFile = ScratchDirTest;

TEST_F(ControlFile, ReplacesControlFileOfEarlierJob) {
  const std::string path = dir_ + ".ctl";
  std::ofstream(path) << std::string(1000, 'x');
  SafeOutFile control;
  ASSERT_TRUE(control.open(path, 0666));
  JobInfo job;
  std::ostringstream log;
  WriteControlFile(log, control, job, ".pjl", {}, "unknown", PpdFile());
  EXPECT_FALSE(control.is_open());
  EXPECT_EQ(ReadFile(path),
            "DataFile:.pjl\nDocumentName:\nAllPage:\nCopyCount:\nPaper:A4\nColor:\nDuplexing:\n"
            "PageOrientation:Portrait\nDriverName:unknown\n");
}

TEST_F(ControlFile, SkippedWhenControlFileDidNotOpen) {
  SafeOutFile control;
  ASSERT_FALSE(control.open(dir_ + "no-such-dir/1f2e.ctl", 0666));
  JobInfo job;
  job.documentName = "parser name";
  job.pages = "4";
  std::ostringstream log;
  WriteControlFile(log, control, job, "1f2e.ps", {{"PageSize", "Legal"}}, "HP", PpdFile());
  EXPECT_EQ(log.str(), "");
  EXPECT_EQ(job.documentName, "parser name");
  EXPECT_EQ(job.paper, "");
  EXPECT_EQ(job.orientation, "");
  EXPECT_EQ(job.driverName, "");
  EXPECT_EQ(job.pages, "4");
}

}  // namespace

}  // namespace vp
