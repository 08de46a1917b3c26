// Many jobs at once, as a busy scheduler runs them: separate backend processes that share the log
// directory, the job log and the settings listing. Each must reach the server with its own bytes
// and its own attributes. The job log they share is truncated by every run: that is by design.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/hostile/hostile_support.h"
#include "tests/support/print_server_process.h"
#include "tests/support/test_pdf.h"

namespace vp {

namespace {

constexpr int kJobsAtOnce = 16;
constexpr int kRounds = 20;

struct Job {
  std::string uuid;
  std::string title;
  std::string paper;
  std::string data;      // what the driver sends
  std::string uploaded;  // what the server must hold
  std::string pages;
  std::string copies;
};

std::string Uuid(int round, int index) {
  char text[40];
  snprintf(text, sizeof text, "c0ffee00-%04d-4000-8000-%012d", round, index);
  return text;
}

// Every fourth job a PDF (wrapped in PJL on the way), the others PostScript with their own marker
// values, all with different bytes, titles and paper.
Job MakeJob(int round, int index) {
  Job job;
  job.uuid = Uuid(round, index);
  job.title = "Job " + std::to_string(round) + "/" + std::to_string(index) + " \"q\"";
  job.paper = index % 2 == 0 ? "A4" : "A3";
  if (index % 4 == 0) {
    int pages = 1 + index / 4;
    job.data = MakePdf(pages);
    job.pages = std::to_string(pages);
    job.copies = "1";
    job.uploaded = "\x1b%-12345X@PJL JOB NAME=" + job.title +
                   "\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n@PJL ENTER LANGUAGE=PDF\n" + job.data +
                   "\x1b%-12345X@PJL EOJ+\n%-12345X";
    return job;
  }
  job.pages = std::to_string(index + 1);
  job.copies = std::to_string(round + 1);
  job.data = "%!PS-Adobe-3.0\n%%Pages: " + job.pages + "\n%RBINumCopies: " + job.copies + "\n";
  job.data += std::string(1000 * (index + 1), static_cast<char>('a' + index));
  job.uploaded = job.data;
  return job;
}

std::string FileName(const Job& job) {
  return job.uuid + (job.data.starts_with("%PDF-") ? ".pdf" : ".ps");
}

// The stored upload of the job: by its data file name, or by its title where jobs share a name.
std::string StoredJob(const std::string& store, const Job& job) {
  for (const std::string& stored : StoredJobs(store)) {
    nlohmann::json properties =
        nlohmann::json::parse(ReadFile(stored + "/printProperties"), nullptr, false);
    if (FileExists(stored + "/" + FileName(job)) && properties["DocumentName"] == job.title)
      return stored;
  }
  return "";
}

void ExpectStored(const std::string& store, const Job& job) {
  std::string stored = StoredJob(store, job);
  ASSERT_FALSE(stored.empty()) << job.title;
  EXPECT_TRUE(FileHolds(stored + "/" + FileName(job), job.uploaded)) << job.title;
  nlohmann::json properties =
      nlohmann::json::parse(ReadFile(stored + "/printProperties"), nullptr, false);
  EXPECT_EQ(properties["DocumentName"], job.title);
  EXPECT_EQ(properties["AllPage"], job.pages) << job.title;
  EXPECT_EQ(properties["CopyCount"], job.copies) << job.title;
  EXPECT_EQ(properties["Paper"], "ISO" + job.paper) << job.title;
}

TEST(Concurrency, SixteenJobsAtOnceEachArriveWholeTwentyTimesOver) {
  ResetSandbox();
  PrintServerProcess server;
  ASSERT_TRUE(StartPrintServer(server));
  for (int round = 0; round < kRounds; ++round) {
    std::vector<Job> jobs;
    for (int index = 0; index < kJobsAtOnce; ++index)
      jobs.push_back(MakeJob(round, index));
    std::vector<BackendRun> runs(jobs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs.size(); ++i) {
      threads.emplace_back([&, i] {
        const Job& job = jobs[i];
        runs[i] = RunBackend(
            StdinJob(job.title, UuidOption(job.uuid) + " PageSize=" + job.paper, job.data));
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(runs[i].status, 0) << jobs[i].title;
      ExpectStored(server.store(), jobs[i]);
    }
    ASSERT_EQ(StoredJobs(server.store()).size(), static_cast<size_t>(kJobsAtOnce * (round + 1)))
        << "round " << round;
  }
}

// Any client may pick a job's UUID. Jobs that share one take turns with its data file: each reaches
// the server whole, PDF ones too, whose wrap puts a new file under the shared name.
TEST(Concurrency, JobsSharingAUuidTakeTurnsAndEachArrivesWhole) {
  constexpr int kSharing = 4;
  constexpr int kSharedRounds = 6;
  ResetSandbox();
  PrintServerProcess server;
  ASSERT_TRUE(StartPrintServer(server));
  for (int round = 0; round < kSharedRounds; ++round) {
    std::vector<Job> jobs;
    for (int index = 0; index < kSharing; ++index) {
      Job job = MakeJob(round, index * 4 + round % 2);
      job.uuid = Uuid(round, 0);
      if (round % 2 == 1) {
        job.data += std::string(300000, 'z');
        job.uploaded = job.data;
      }
      jobs.push_back(job);
    }
    std::vector<BackendRun> runs(jobs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs.size(); ++i) {
      threads.emplace_back([&, i] {
        runs[i] = RunBackend(StdinJob(
            jobs[i].title, UuidOption(jobs[i].uuid) + " PageSize=" + jobs[i].paper, jobs[i].data));
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(runs[i].status, 0) << jobs[i].title;
      ExpectStored(server.store(), jobs[i]);
    }
  }
}

// A local user (nobody) holding a shared lock on `path` until killed; returns once it holds it, or
// -1 when it never did.
pid_t LockAsAnotherUser(const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    // A group of its own, so that flock's child goes with it; nothing of the test's output held.
    setpgid(0, 0);
    int nothing = open("/dev/null", O_RDWR);
    dup2(nothing, 1);
    dup2(nothing, 2);
    execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
          "flock", "-s", path.c_str(), "sleep", "60", static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool held = false;
  for (int i = 0; i < 500 && !held; ++i) {
    held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    flock(fd, LOCK_UN);
    if (!held)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close(fd);
  if (!held) {
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

// Any local user may open a job's leftover files (the data file has mode 0777) and lock them. The
// runs of one job take turns by a lock that only root can reach, so such a user makes no re-run
// of the job wait; a lock folder that is not root's alone is refused, and the job fails at once.
TEST(Concurrency, NoOtherUserCanMakeAJobWait) {
  const std::string uuid = Uuid(99, 1);
  const std::string lockDir = SandboxDir() + "/var/run/virtual-printer";
  struct Case {
    std::string name;
    std::string lockedFile;  // the leftover file the user locks
    bool foreignLockFolder;
    int status;
  } cases[] = {
      {"shared lock on the data file", ".ps", false, 0},
      {"shared lock on the control file", ".ctl", false, 0},
      {"lock folder of another user", "", true, 1},
  };
  for (const Case& c : cases) {
    ResetSandbox();
    PrintServerProcess server;
    ASSERT_TRUE(StartPrintServer(server));
    const Job job = MakeJob(1, 1);
    const BackendCall call = StdinJob(job.title, UuidOption(uuid), job.data);
    ASSERT_EQ(RunBackend(call).status, 0) << c.name;
    pid_t locker = c.lockedFile.empty() ? -1 : LockAsAnotherUser(LogDir() + uuid + c.lockedFile);
    ASSERT_TRUE(c.lockedFile.empty() || locker > 0) << c.name;
    if (c.foreignLockFolder) {
      std::filesystem::remove_all(lockDir);
      ASSERT_EQ(mkdir(lockDir.c_str(), 0700), 0);
      ASSERT_EQ(chown(lockDir.c_str(), 65534, 65534), 0);
    }
    BackendCall again = call;
    again.timeoutSeconds = 20;
    auto start = std::chrono::steady_clock::now();
    BackendRun run = RunBackend(again);
    const double took = SecondsSince(start);
    if (locker > 0) {
      kill(-locker, SIGKILL);
      waitpid(locker, nullptr, 0);
    }
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_LT(took, 10) << c.name;
    EXPECT_EQ(StoredJobs(server.store()).size(), c.status == 0 ? 2u : 1u) << c.name;
    if (c.foreignLockFolder) {
      EXPECT_TRUE(LogHas("Can't lock the job's files in " + lockDir + "/: Operation not permitted"))
          << c.name;
    }
  }
}

}  // namespace

}  // namespace vp
