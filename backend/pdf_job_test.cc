#include "backend/pdf_job.h"

#include <sstream>

#include <gtest/gtest.h>

namespace vp {

namespace {

const std::string kDuplexKey = "com.apple.print.PrintSettings.PMDuplexing..n.";

TEST(SettlePdfJob, EchoesEveryPairInOrder) {
  JobInfo job;
  ::testing::internal::CaptureStdout();
  std::ostringstream log;
  JobInput input;
  input.options = ReadJobOptions("a=1 = " + kDuplexKey + "=2 a=b=c");
  SettlePdfJob(log, job, input, testing::TempDir() + "no-such-job.pdf");
  EXPECT_EQ(
      ::testing::internal::GetCapturedStdout(),
      "Key: a, Value: 1\nKey: , Value: \nKey: " + kDuplexKey + ", Value: 2\nKey: a, Value: b=c\n");
}

}  // namespace

}  // namespace vp
