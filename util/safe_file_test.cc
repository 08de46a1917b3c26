#include "util/safe_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

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

// A text file written through the buffer arrives whole, past the buffer's size; one that cannot be
// opened takes nothing and says so.
TEST_F(OpenNoFollowTest, SafeOutFileWritesWholeOrNotAtAll) {
  const std::string text(10000, 'x');
  const std::string path = dir_ + "out.txt";
  ASSERT_TRUE(WriteFile(path, std::string(20000, 'o')));
  SafeOutFile out;
  EXPECT_FALSE(out.is_open());
  ASSERT_TRUE(out.open(path, 0666));
  out << text << "end\n";
  out.close();
  EXPECT_FALSE(out.is_open());
  EXPECT_EQ(ReadFile(path), text + "end\n");

  const std::string victim = dir_ + "victim";
  ASSERT_TRUE(WriteFile(victim, "precious"));
  ASSERT_EQ(symlink(victim.c_str(), (dir_ + "link").c_str()), 0);
  EXPECT_FALSE(out.open(dir_ + "link", 0666));
  out << "lost";
  EXPECT_TRUE(out.fail());
  EXPECT_EQ(ReadFile(victim), "precious");
}

// Writes larger than a pipe holds arrive whole; a reader gone is a failure, not a hang.
TEST(WriteAll, WritesEveryByteOrFails) {
  signal(SIGPIPE, SIG_IGN);
  for (bool reader : {true, false}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string data(300000, 'd');
    std::string got;
    std::thread reading([&] {
      if (reader) {
        char block[8192];
        for (ssize_t n; (n = read(ends[0], block, sizeof block)) > 0;)
          got.append(block, static_cast<size_t>(n));
      }
      close(ends[0]);
    });
    if (!reader)
      reading.join();
    EXPECT_EQ(WriteAll(ends[1], data.data(), data.size()), reader);
    close(ends[1]);
    if (reader) {
      reading.join();
      EXPECT_EQ(got, data);
    }
  }
  signal(SIGPIPE, SIG_DFL);
}

}  // namespace
