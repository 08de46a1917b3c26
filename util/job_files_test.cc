#include "util/job_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/scratch_dir.h"
#include "util/safe_file.h"

namespace vp {

namespace {

constexpr char kUuid[] = "0f8e2a1c-3b4d-4e5f-8A9B-0c1d2e3f4a5b";

// The job files on the test's own folder; two of these run side by side without meeting.
class JobFilesTest : public ScratchDirTest {
 protected:
  JobFiles files() const { return JobFiles(dir_ + "log/", dir_ + "run/"); }

  mode_t ModeOf(const std::string& path) const {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }
};

// The names and modes every stored job file has always had: the server, the clean and the
// administrators' scripts know them so. The backend runs with umask 0.
TEST_F(JobFilesTest, EachFileHasItsNameAndMode) {
  const mode_t saved = umask(0);
  const JobFiles jobs = files();
  SafeOutFile log, control;
  ASSERT_TRUE(jobs.OpenJobLog(log));  // makes the missing log folder
  ASSERT_TRUE(jobs.OpenControl(control, kUuid));
  int data = jobs.OpenData(std::string(kUuid) + ".pdf", O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_GE(data, 0);
  close(data);
  umask(saved);
  const struct {
    std::string path;
    mode_t mode;
  } kFiles[] = {
      {dir_ + "log", 0777},
      {dir_ + "log/vlog.txt", 0666},
      {dir_ + "log/" + kUuid + ".ctl", 0666},
      {dir_ + "log/" + kUuid + ".pdf", 0777},
  };
  for (const auto& file : kFiles)
    EXPECT_EQ(ModeOf(file.path), file.mode) << file.path;
  EXPECT_EQ(jobs.JobLogPath(), dir_ + "log/vlog.txt");
  EXPECT_EQ(JobFiles::TemporaryPath(jobs.Path("a.pdf")), dir_ + "log/a.pdf.tmp");
}

// The clean removes exactly what this rule names, so it must know every file a job leaves and
// nothing else in a folder CUPS shares.
TEST(JobUuidOf, KnowsOnlyTheBackendsOwnNames) {
  const std::string uuid = kUuid;
  const std::pair<std::string, std::string> kCases[] = {
      {uuid + ".pdf", uuid},
      {uuid + ".ps", uuid},
      {uuid + ".pjl", uuid},
      {uuid + ".ctl", uuid},
      {uuid + ".pdf.tmp", uuid},
      {uuid + ".tmp", ""},
      {uuid + ".txt", ""},
      {uuid + ".pdf.bak", ""},
      {uuid + ".lock", ""},
      {uuid, ""},
      {".pdf", ""},
      {"vlog.txt", ""},
      {"error_log.1", ""},
      // Any UUID the backend names files by, not only CUPS's own form.
      {uuid.substr(1) + ".pdf", uuid.substr(1)},
      {"0a1b-OK.ps", "0a1b-OK"},
      {"report.pdf.tmp", "report"},
      {"report_1.pdf", ""},
      {"a.b.ctl", ""},
      {"a b.ps", ""},
      {"caf\xc3\xa9.ps", ""},
  };
  for (const auto& [name, expected] : kCases)
    EXPECT_EQ(JobUuidOf(name), expected) << name;
}

// A second run of a job waits for the first, gives up when the wait runs out, and takes the lock
// afresh when the clean removed the file it waited on.
TEST_F(JobFilesTest, SecondRunWaitsForTheFirst) {
  const JobFiles jobs = files();
  const struct {
    const char* name;
    int waitSeconds;
    bool removedByTheClean;  // the holder's file is removed before it lets go
    bool held;
  } kCases[] = {
      {"no wait", 0, false, false},
      {"the first lets go", 5, false, true},
      {"the clean removes the file", 5, true, true},
  };
  for (const auto& c : kCases) {
    JobLock first = jobs.TakeLock(kUuid, 0);
    ASSERT_TRUE(first.held()) << c.name;
    std::thread lettingGo([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (c.removedByTheClean)
        jobs.RemoveLock(kUuid, first);
      first = JobLock();
    });
    errno = 0;
    JobLock second = jobs.TakeLock(kUuid, c.waitSeconds);
    const int error = errno;
    lettingGo.join();
    EXPECT_EQ(second.held(), c.held) << c.name;
    if (!c.held) {
      EXPECT_EQ(error, EWOULDBLOCK) << c.name;
    }
    // The handle moves, and only the moved-to one holds.
    JobLock moved = std::move(second);
    EXPECT_FALSE(second.held()) << c.name;
    EXPECT_EQ(moved.held(), c.held) << c.name;
  }
}

// A lock folder any other user could change would let them hold or swap the locks.
TEST_F(JobFilesTest, RefusesALockFolderSomeoneElseCanChange) {
  if (geteuid() != 0)
    GTEST_SKIP() << "giving a folder to another user needs root";
  const struct {
    const char* name;
    mode_t mode;
    uid_t owner;
  } kCases[] = {
      {"writable by all", 0777, 0},
      {"writable by its group", 0770, 0},
      {"another user's", 0700, 65534},
  };
  for (const auto& c : kCases) {
    const std::string folder = dir_ + c.name + "/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    ASSERT_EQ(chown(folder.c_str(), c.owner, 0), 0);
    errno = 0;
    EXPECT_FALSE(JobFiles(dir_, folder).TakeLock(kUuid, 0).held()) << c.name;
    EXPECT_EQ(errno, EPERM) << c.name;
  }
  // The folder is judged by what it is, not by the name that leads to it.
  ASSERT_EQ(symlink((dir_ + "writable by all").c_str(), (dir_ + "link").c_str()), 0);
  EXPECT_FALSE(JobFiles(dir_, dir_ + "link/").TakeLock(kUuid, 0).held());
}

}  // namespace

}  // namespace vp
