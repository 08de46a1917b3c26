#include "util/safe_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace vp {

namespace {

// What a local user may put where the backend opens a file in the shared folder. The end-to-end
// form of these, through every file a job writes, is HostileInput.PlantedLinksAndPipesAreNever...
// (tests/hostile); here is the exact contract of the one function behind them.
class OpenNoFollowTest : public ScratchDirTest {};

TEST_F(OpenNoFollowTest, RefusesWhatIsNotAPlainFileOfItsOwn) {
  enum Kind { kPlain, kSymlink, kFifo, kHardLink, kFolder };
  const struct {
    const char* name;
    Kind kind;
    int flags;
    int error;  // 0: opened
  } kCases[] = {
      {"plain file, read", kPlain, O_RDONLY, 0},
      {"plain file, truncated", kPlain, O_WRONLY | O_TRUNC, 0},
      {"symbolic link, read", kSymlink, O_RDONLY, ELOOP},
      {"symbolic link, written", kSymlink, O_WRONLY | O_CREAT | O_TRUNC, ELOOP},
      {"FIFO, read", kFifo, O_RDONLY, EINVAL},
      {"FIFO, written", kFifo, O_WRONLY | O_CREAT | O_TRUNC, ENXIO},
      {"hard link, read", kHardLink, O_RDONLY, 0},
      {"hard link, written", kHardLink, O_WRONLY | O_TRUNC, EMLINK},
      {"folder, read", kFolder, O_RDONLY, EINVAL},
  };
  const std::string victim = dir_ + "victim";
  for (const auto& c : kCases) {
    ASSERT_TRUE(WriteFile(victim, "precious"));
    const std::string at = dir_ + c.name;
    switch (c.kind) {
      case kPlain:
        ASSERT_TRUE(WriteFile(at, "old"));
        break;
      case kSymlink:
        ASSERT_EQ(symlink(victim.c_str(), at.c_str()), 0);
        break;
      case kFifo:
        ASSERT_EQ(mkfifo(at.c_str(), 0666), 0);
        break;
      case kHardLink:
        ASSERT_EQ(link(victim.c_str(), at.c_str()), 0);
        break;
      case kFolder:
        ASSERT_EQ(mkdir(at.c_str(), 0777), 0);
        break;
    }
    errno = 0;
    int fd = OpenNoFollow(at, c.flags, 0666);
    EXPECT_EQ(fd >= 0 ? 0 : errno, c.error) << c.name;
    EXPECT_EQ(ReadFile(victim), "precious") << c.name;
    if (fd >= 0) {
      // Blocking unless asked, and never inherited by a program the backend starts.
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << c.name;
      EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << c.name;
      close(fd);
    }
    if (c.kind == kPlain) {
      EXPECT_EQ(ReadFile(at), (c.flags & O_TRUNC) != 0 ? "" : "old") << c.name;
    }
  }
}

// Text written through the buffer arrives whole past the buffer's size, and replaces what was
// there; a broken pipe is a failure, not a hang.
TEST_F(OpenNoFollowTest, BufferedAndDirectWritesArriveWholeOrFail) {
  const std::string path = dir_ + "out.txt";
  ASSERT_TRUE(WriteFile(path, std::string(20000, 'o')));
  SafeOutFile out;
  ASSERT_TRUE(out.open(path, 0666));
  out << std::string(10000, 'x') << "end\n";
  out.close();
  EXPECT_EQ(ReadFile(path), std::string(10000, 'x') + "end\n");

  signal(SIGPIPE, SIG_IGN);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  EXPECT_FALSE(WriteAll(ends[1], "abc", 3));
  close(ends[1]);
  signal(SIGPIPE, SIG_DFL);
}

}  // namespace

}  // namespace vp
