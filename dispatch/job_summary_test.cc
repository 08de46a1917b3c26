#include "dispatch/job_summary.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/sample_job.h"
#include "tests/support/scratch_dir.h"

#include "tests/support/test_pdf.h"
#include "util/job_log.h"

namespace {

namespace fs = std::filesystem;

const std::string kColorKey = "com.apple.print.PrintSettings.PMColorSpaceModel..n.";
const std::string kDuplexKey = "com.apple.print.PrintSettings.PMDuplexing..n.";

using JobSummary = ScratchDirTest;

TEST(ExecuteCommand, ReturnsOutputWithoutNewlines) {
  struct Case {
    std::string command, expected;
  } cases[] = {
      {"printf '12\\n'", "12"},       {"printf '12\\n34\\n'", "1234"},
      {"printf '  7 \\n'", "  7 "},   {"head -c 300 /dev/zero | tr '\\0' x", std::string(300, 'x')},
      {"printf 'a\\n\\n\\nb'", "ab"}, {"true", ""},
      {"echo out; exit 3", "out"},    {"no-such-command-anywhere 2>/dev/null", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(executeCommand(c.command), c.expected) << c.command;
}

TEST(ApplyPrintSettings, DialogSettingsSetColourAndDuplex) {
  struct Case {
    std::string name;
    std::string startColor;
    std::string options;
    std::string color, duplex, binding;
    std::string ppd = "";                   // the queue's PPD entries; none when empty
    std::vector<std::string> sources = {};  // the plain lines naming what decided
  } cases[] = {
      {"none", "Grayscale", "", "Grayscale", "OneSided", ""},
      {"long edge", "Grayscale", kDuplexKey + "=2", "Grayscale", "TwoSided", "LONGEDGE"},
      {"short edge", "Grayscale", kDuplexKey + "=3", "Grayscale", "TwoSided", "SHORTEDGE"},
      {"one-sided", "Grayscale", kDuplexKey + "=1", "Grayscale", "OneSided", ""},
      {"colour over driver", "Grayscale", kColorKey + "=2", "Color", "OneSided", ""},
      {"gray over driver", "Color", kColorKey + "=1", "Grayscale", "OneSided", ""},
      {"unknown colour value", "Color", kColorKey + "=3", "Color", "OneSided", ""},
      {"value not one character", "Grayscale", kColorKey + "=22 " + kDuplexKey + "=02", "Grayscale",
       "OneSided", ""},
      {"key case differs", "Grayscale",
       "com.apple.print.PrintSettings.pmduplexing..n.=2 "
       "com.apple.print.PrintSettings.PMColorSpaceModel..N.=2",
       "Grayscale", "OneSided", ""},
      {"key without ..n.", "Grayscale",
       "com.apple.print.PrintSettings.PMDuplexing=2 "
       "com.apple.print.PrintSettings.PMColorSpaceModel=2",
       "Grayscale", "OneSided", ""},
      {"last duplex wins", "Grayscale", kDuplexKey + "=2 " + kDuplexKey + "=3", "Grayscale",
       "TwoSided", "SHORTEDGE"},
      {"unrecognised later value keeps earlier", "Grayscale",
       kDuplexKey + "=3 " + kDuplexKey + "=1 " + kColorKey + "=2 " + kColorKey + "=x", "Color",
       "TwoSided", "SHORTEDGE"},
      {"last colour wins", "Grayscale", kColorKey + "=2 a=b " + kColorKey + "=1", "Grayscale",
       "OneSided", ""},
      {"sides long edge",
       "Grayscale",
       "sides=two-sided-long-edge",
       "Grayscale",
       "TwoSided",
       "LONGEDGE",
       "",
       {"duplex TwoSided from sides=two-sided-long-edge"}},
      {"sides before Duplex",
       "Grayscale",
       "Duplex=DuplexTumble sides=one-sided",
       "Grayscale",
       "OneSided",
       "",
       "",
       {"duplex OneSided from sides=one-sided"}},
      {"Duplex option",
       "Grayscale",
       "Duplex=DuplexTumble",
       "Grayscale",
       "TwoSided",
       "SHORTEDGE",
       "",
       {"duplex TwoSided from Duplex=DuplexTumble"}},
      {"unknown sides, then the PPD's default",
       "Grayscale",
       "sides=sideways",
       "Grayscale",
       "TwoSided",
       "LONGEDGE",
       "*DefaultDuplex: DuplexNoTumble\n",
       {"duplex TwoSided from *DefaultDuplex DuplexNoTumble"}},
      {"dialog one-sided over sides", "Grayscale", kDuplexKey + "=1 sides=two-sided-long-edge",
       "Grayscale", "OneSided", "", "*DefaultDuplex: DuplexTumble\n"},
      {"monochrome mode",
       "Color",
       "print-color-mode=monochrome",
       "Grayscale",
       "OneSided",
       "",
       "",
       {"color Grayscale from print-color-mode=monochrome"}},
      {"colour mode alone",
       "Grayscale",
       "print-color-mode=color",
       "Color",
       "OneSided",
       "",
       "",
       {"color Color from print-color-mode=color"}},
      {"ColorModel over the colour mode CUPS adds",
       "Color",
       "ColorModel=KGray print-color-mode=color",
       "Grayscale",
       "OneSided",
       "",
       "",
       {"color Grayscale from ColorModel=KGray"}},
      {"any other ColorModel is colour",
       "Grayscale",
       "ColorModel=CMY",
       "Color",
       "OneSided",
       "",
       "",
       {"color Color from ColorModel=CMY"}},
      {"PPD's default colour model",
       "Color",
       "",
       "Grayscale",
       "OneSided",
       "",
       "*DefaultColorModel: Gray\n*DefaultDuplex: None\n",
       {"duplex OneSided from *DefaultDuplex None",
        "color Grayscale from *DefaultColorModel Gray"}},
      {"dialog colour over the colour mode", "Grayscale",
       kColorKey + "=2 print-color-mode=monochrome", "Color", "OneSided", "", ""},
  };
  for (const Case& c : cases) {
    JobInfo job;
    job.color = c.startColor;
    job.duplex = "OneSided";
    job.pages = "1";
    ::testing::internal::CaptureStdout();
    std::string ppd;
    if (!c.ppd.empty()) {
      ppd = testing::TempDir() + "apply-print-settings.ppd";
      ASSERT_TRUE(WriteFile(ppd, "*PPD-Adobe: \"4.3\"\n" + c.ppd));
    }
    std::ostringstream log;
    ApplyPrintSettings(log, job, c.options, ppd);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(job.color, c.color) << c.name;
    EXPECT_EQ(job.duplex, c.duplex) << c.name;
    EXPECT_EQ(job.binding, c.binding) << c.name;
    EXPECT_EQ(job.pages, "1") << c.name;
    EXPECT_EQ(Unstamped(log.str()), c.sources) << c.name;
  }
}

TEST(ApplyPrintSettings, EchoesEveryPairInOrder) {
  JobInfo job;
  ::testing::internal::CaptureStdout();
  std::ostringstream log;
  ApplyPrintSettings(log, job, "a=1 = " + kDuplexKey + "=2 a=b=c", "");
  EXPECT_EQ(
      ::testing::internal::GetCapturedStdout(),
      "Key: a, Value: 1\nKey: , Value: \nKey: " + kDuplexKey + ", Value: 2\nKey: a, Value: b=c\n");
}

TEST_F(JobSummary, CountsPagesWithThePageCountProgram) {
  struct Case {
    std::string name, file, content, expected;
  } cases[] = {
      {"one page", "a.pdf", MakePdf(1), "1"},
      {"several pages", "b.pdf", MakePdf(12), "12"},
      {"title that holds Pages:", "t.pdf", MakePdf(2, "-7 Pages:"), "2"},
      {"quote and blank in path", "it's a job.pdf", MakePdf(3), "3"},
      {"shell syntax in path", "$(touch pwned);x`touch pwned`.pdf", MakePdf(2), "2"},
      {"not a pdf", "c.pdf", "plain text\n", ""},
      {"missing file", "", "", ""},
      {"a link planted in its place", "link.pdf", "", ""},
      {"a FIFO planted in its place", "fifo.pdf", "", ""},
  };
  for (const Case& c : cases) {
    std::string path = dir_ + c.file;
    if (c.file == "link.pdf")
      fs::create_symlink(dir_ + "a.pdf", path);
    else if (c.file == "fifo.pdf")
      mkfifo(path.c_str(), 0666);
    else if (!c.file.empty())
      std::ofstream(path, std::ios::binary) << c.content;
    JobInfo job;
    job.pages = "1";
    std::ostringstream log;
    CountPdfPages(log, job, c.file.empty() ? dir_ + "missing.pdf" : path);
    EXPECT_EQ(job.pages, c.expected) << c.name;
    EXPECT_EQ(Unstamped(log.str()), std::vector<std::string>{"parser pagecount:" + c.expected})
        << c.name;
  }
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(fs::exists(dir_ + "pwned"));
}

// With one free descriptor the data file opens, but the pipe to the page-count program cannot be
// made.
void CountPagesWithoutDescriptors() {
  const std::string path = fs::temp_directory_path() / ("vp-count-" + std::to_string(getpid()));
  std::ofstream(path, std::ios::binary) << MakePdf(1);
  JobInfo job;
  job.pages = "1";
  std::ostringstream log;
  // A sanitizer checking a type (the caught exception, the log's dynamic type) needs a pipe of its
  // own the first time it meets it; let it meet them while descriptors are still there.
  try {
    throw std::runtime_error("warm-up");
  } catch (const std::runtime_error& e) {
    Log(log, e.what());
    log.str("");
  }
  const int lowestFree = dup(0);
  close(lowestFree);
  const rlim_t one = static_cast<rlim_t>(lowestFree) + 1;
  rlimit few{one, one};
  if (setrlimit(RLIMIT_NOFILE, &few) != 0)
    _exit(2);
  CountPdfPages(log, job, path);
  unlink(path.c_str());
  fputs(log.str().c_str(), stderr);
  _exit(job.pages == "1" ? 0 : 1);
}

TEST(CountPdfPages, JobGoesOnWhenTheProgramCannotStart) {
  EXPECT_EXIT(CountPagesWithoutDescriptors(), ::testing::ExitedWithCode(0),
              "Caught exception: popen\\(\\) failed!");
}

struct SummaryCase {
  std::string name;
  OptionsMap options;
  std::string paper, orientation;
  std::vector<std::string> paperLog;  // what the paper rule logs before the "Paper" line
  std::string ppd = "";               // the queue's PPD entries; none when empty
};

TEST_F(JobSummary, WritesControlFileAndLog) {
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
    const std::string path = dir_ + "1f2e.ctl";
    SafeOutFile control;
    ASSERT_TRUE(control.open(path, 0666));
    JobInfo job = SampleJob();
    std::ostringstream log;
    const std::string ppd = c.ppd.empty() ? "" : Write("*PPD-Adobe: \"4.3\"\n" + c.ppd, ".ppd");
    WriteJobSummary(log, control, job, "1f2e.pdf", "My Report", c.options, "HP LaserJet", ppd);

    EXPECT_FALSE(control.is_open()) << c.name;
    EXPECT_EQ(ReadFile(path),
              "DataFile:1f2e.pdf\nDocumentName:My Report\nAllPage:12\nCopyCount:2\nPaper:" +
                  c.paper + "\nColor:Color\nDuplexing:TwoSided\nPageOrientation:" + c.orientation +
                  "\nDriverName:HP LaserJet\n")
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

TEST_F(JobSummary, ReplacesControlFileOfEarlierJob) {
  const std::string path = dir_ + ".ctl";
  std::ofstream(path) << std::string(1000, 'x');
  SafeOutFile control;
  ASSERT_TRUE(control.open(path, 0666));
  JobInfo job;
  std::ostringstream log;
  WriteJobSummary(log, control, job, ".pjl", "", {}, "unknown", "");
  EXPECT_EQ(ReadFile(path),
            "DataFile:.pjl\nDocumentName:\nAllPage:\nCopyCount:\nPaper:A4\nColor:\nDuplexing:\n"
            "PageOrientation:Portrait\nDriverName:unknown\n");
}

TEST_F(JobSummary, SkippedWhenControlFileDidNotOpen) {
  SafeOutFile control;
  ASSERT_FALSE(control.open(dir_ + "no-such-dir/1f2e.ctl", 0666));
  JobInfo job;
  job.documentName = "parser name";
  job.pages = "4";
  std::ostringstream log;
  WriteJobSummary(log, control, job, "1f2e.ps", "Title", {{"PageSize", "Legal"}}, "HP", "");
  EXPECT_EQ(log.str(), "");
  EXPECT_EQ(job.documentName, "parser name");
  EXPECT_EQ(job.paper, "");
  EXPECT_EQ(job.orientation, "");
  EXPECT_EQ(job.driverName, "");
  EXPECT_EQ(job.pages, "4");
}

}  // namespace
