#include "dispatch/page_count.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/test_pdf.h"
#include "util/job_log.h"

namespace vp {

namespace {

namespace fs = std::filesystem;

using PageCount = ScratchDirTest;

TEST(ExecuteCommand, ReturnsOutputWithoutNewlines) {
  struct Case {
    std::string command, expected;
  } cases[] = {
      {"printf '12\\n'", "12"},       {"printf '12\\n34\\n'", "1234"},
      {"printf '  7 \\n'", "  7 "},   {"head -c 300 /dev/zero | tr '\\0' x", std::string(300, 'x')},
      {"printf 'a\\n\\n\\nb'", "ab"}, {"true", ""},
      {"echo out; exit 3", "out"},    {"no-such-command-anywhere 2>/dev/null", ""},
  };
  for (const Case& c : cases) {
    const CommandOutput output = executeCommand(c.command);
    EXPECT_TRUE(output.started) << c.command;
    EXPECT_EQ(output.text, c.expected) << c.command;
  }
}

TEST_F(PageCount, CountsPagesWithThePageCountProgram) {
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
  // A sanitizer checking a type (the log's dynamic type) needs a pipe of its own the first time it
  // meets it; let it meet it while descriptors are still there.
  Log(log, "warm-up");
  log.str("");
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

}  // namespace

}  // namespace vp
