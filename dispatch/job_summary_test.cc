#include "dispatch/job_summary.h"

#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/ppd_defaults.h"
#include "tests/support/sample_job.h"

namespace vp {

namespace {

struct SummaryCase {
  std::string name;
  OptionsMap options;
  std::string paper, orientation;
  std::vector<std::string> paperLog;  // what the paper rule logs before the "Paper" line
  std::string ppd = "";               // the queue's PPD entries; none when empty
};

TEST(SummariseJob, GivesTheLinesAndLogsThem) {
  const SummaryCase cases[] = {
      {"defaults", {}, "A4", "Portrait", {}},
      {"letter whole", {{"PageSize", "Letter"}}, "Letter", "Portrait", {}},
      {"two characters", {{"PageSize", "A3"}}, "A3", "Portrait", {}},
      {"one character", {{"PageSize", "B"}}, "B", "Portrait", {}},
      {"legal cut", {{"PageSize", "Legal"}}, "Le", "Portrait", {"Paper-original::Legal"}},
      {"a4 with extras",
       {{"PageSize", "A4.Transverse"}},
       "A4",
       "Portrait",
       {"Paper-original::A4.Transverse"}},
      {"letter case matters",
       {{"PageSize", "letter"}},
       "le",
       "Portrait",
       {"Paper-original::letter"}},
      {"orientation copied",
       {{"NupOrient", "whatever it is"}, {"PageSize", "A5"}},
       "A5",
       "whatever it is",
       {}},
      {"PPD's default paper", {}, "Letter", "Portrait", {}, "*DefaultPageSize: Letter\n"},
      {"PPD's default cut",
       {},
       "Le",
       "Portrait",
       {"Paper-original::Legal"},
       "*DefaultPageSize: Legal\n"},
      {"option over the PPD",
       {{"PageSize", "A3"}},
       "A3",
       "Portrait",
       {},
       "*DefaultPageSize: Letter\n"},
      {"PPD without a default paper", {}, "A4", "Portrait", {}, "*DefaultColorModel: Gray\n"},
  };
  for (const SummaryCase& c : cases) {
    JobInfo job = SampleJob();
    job.documentName = "My Report";
    std::ostringstream log;
    const std::vector<std::string> lines =
        SummariseJob(log, job, "1f2e.pdf", c.options, "HP LaserJet", PpdWithDefaults(c.ppd));

    EXPECT_EQ(lines, (std::vector<std::string>{
                         "DataFile:1f2e.pdf", "DocumentName:My Report", "AllPage:12", "CopyCount:2",
                         "Paper:" + c.paper, "Color:Color", "Duplexing:TwoSided",
                         "PageOrientation:" + c.orientation, "DriverName:HP LaserJet"}))
        << c.name;
    std::vector<std::string> expected = {"DocumentName:My Report", "AllPage:12", "CopyCount:2"};
    expected.insert(expected.end(), c.paperLog.begin(), c.paperLog.end());
    for (std::string line :
         {"Paper:" + c.paper, std::string("Color:Color"), std::string("Duplexing:TwoSided"),
          "PageOrientation:" + c.orientation, std::string("DriverName:HP LaserJet")}) {
      expected.push_back(line);
    }
    EXPECT_EQ(Unstamped(log.str()), expected) << c.name;
    EXPECT_EQ(job.documentName, "My Report") << c.name;
    EXPECT_EQ(job.paper, c.paper) << c.name;
    EXPECT_EQ(job.orientation, c.orientation) << c.name;
    EXPECT_EQ(job.driverName, "HP LaserJet") << c.name;
    EXPECT_EQ(job.binding, "LONGEDGE") << c.name;
  }
}

// The control file is read line by line; the log keeps the value as it came.
TEST(SummariseJob, KeepsEachValueOnOneLine) {
  JobInfo job;
  job.documentName = "a\nb";
  std::ostringstream log;
  const std::vector<std::string> lines = SummariseJob(log, job, "x.ps", {}, "m", PpdFile());
  EXPECT_EQ(lines[1], "DocumentName:a b");
  EXPECT_NE(log.str().find("DocumentName:a\nb"), std::string::npos);
}

}  // namespace

}  // namespace vp
