#include "backend/run_loop.h"
#include "util/device_write.h"
#include "util/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "util/cups_private.h"

namespace vp {

namespace {

struct Pipe {
  int read_end = -1, write_end = -1;
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0)
      read_end = fds[0], write_end = fds[1];
  }
  ~Pipe() {
    if (read_end >= 0)
      close(read_end);
    if (write_end >= 0)
      close(write_end);
  }
};

std::string CopyDebugLine(int print_fd, int device_fd) {
  return "DEBUG: backendRunLoop(print_fd=" + std::to_string(print_fd) +
         ", device_fd=" + std::to_string(device_fd) +
         ", snmp_fd=-1, addr=(nil), use_bc=0, side_cb=(nil))\n";
}

TEST(RunLoop, CopiesInBlocksOf8192WithDebugLines) {
  Pipe source, device;
  ASSERT_EQ(write(source.write_end, std::string(20000, 'x').data(), 20000), 20000);
  close(source.write_end);
  source.write_end = -1;
  testing::internal::CaptureStderr();
  int64_t total = backendRunLoop(source.read_end, device.write_end);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(total, 20000);
  EXPECT_EQ(err, CopyDebugLine(source.read_end, device.write_end) +
                     "DEBUG: Read 8192 bytes of print data...\n"
                     "DEBUG: Wrote 8192 bytes of print data...\n"
                     "DEBUG: Read 8192 bytes of print data...\n"
                     "DEBUG: Wrote 8192 bytes of print data...\n"
                     "DEBUG: Read 3616 bytes of print data...\n"
                     "DEBUG: Wrote 3616 bytes of print data...\n");
  char copy[20001];
  EXPECT_EQ(read(device.read_end, copy, sizeof copy), 20000);
}

// A device that takes part of a block and then refuses for a while (a full pipe): the block's
// read line comes once, before its first write line, and no byte is lost or written twice.
TEST(RunLoop, PartlyWrittenBlockKeepsItsLinesInOrder) {
  Pipe source, device;
  if (!SetPipeSize(device.write_end, 4096))
    GTEST_SKIP() << "this system does not let a process size its pipes";
  ASSERT_EQ(fcntl(device.write_end, F_SETFL, O_NONBLOCK), 0);
  const std::string data(6000, 'y');
  ASSERT_EQ(write(source.write_end, data.data(), data.size()), 6000);
  close(source.write_end);
  source.write_end = -1;
  std::string copied;
  std::thread reader([&] {
    usleep(50 * 1000);
    char buffer[8192];
    for (ssize_t n; (n = read(device.read_end, buffer, sizeof buffer)) > 0;)
      copied.append(buffer, static_cast<size_t>(n));
  });
  const int device_fd = device.write_end;
  testing::internal::CaptureStderr();
  int64_t total = backendRunLoop(source.read_end, device_fd);
  std::string err = testing::internal::GetCapturedStderr();
  close(device.write_end);
  device.write_end = -1;
  reader.join();
  EXPECT_EQ(total, 6000);
  EXPECT_EQ(copied, data);
  EXPECT_EQ(err, CopyDebugLine(source.read_end, device_fd) +
                     "DEBUG: Read 6000 bytes of print data...\n"
                     "DEBUG: Wrote 4096 bytes of print data...\n"
                     "DEBUG: Wrote 1904 bytes of print data...\n");
}

// A device that refuses for a while (a full pipe standing for a full disk) is waited out, and every
// byte arrives once; a device that is gone for good is given up.
TEST(WriteToDevice, WaitsOutARefusingDeviceAndGivesUpOnAGoneOne) {
  IgnoreSignal(SIGPIPE);
  Pipe device;
  ASSERT_EQ(fcntl(device.write_end, F_SETFL, O_NONBLOCK), 0);
  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 31 % 251);
  std::string copied;
  std::thread reader([&] {
    usleep(300 * 1000);
    char buffer[8192];
    for (ssize_t n; (n = read(device.read_end, buffer, sizeof buffer)) > 0;)
      copied.append(buffer, static_cast<size_t>(n));
  });
  EXPECT_TRUE(WriteToDevice(device.write_end, data.data(), data.size()));
  close(device.write_end);
  device.write_end = -1;
  reader.join();
  EXPECT_EQ(copied, data);

  Pipe gone;
  close(gone.read_end);
  gone.read_end = -1;
  EXPECT_FALSE(WriteToDevice(gone.write_end, "abc", 3));
}

TEST(RunLoop, EmptySourceGivesZero) {
  Pipe source, device;
  close(source.write_end);
  source.write_end = -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(backendRunLoop(source.read_end, device.write_end), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            CopyDebugLine(source.read_end, device.write_end));
}

TEST(RunLoop, RefusedDeviceWriteEndsWithMinusOne) {
  IgnoreSignal(SIGPIPE);
  Pipe source, device;
  ASSERT_EQ(write(source.write_end, "abc", 3), 3);
  close(device.read_end);
  device.read_end = -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(backendRunLoop(source.read_end, device.write_end), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("DEBUG: Read 3 bytes of print data...\n"
                     "ERROR:Unable to write print data: Broken pipe\n"),
            std::string::npos)
      << err;
}

TEST(RunLoop, UnreadableSourceEndsWithMinusOne) {
  Pipe device;
  int directory = open("/", O_RDONLY | O_DIRECTORY);
  testing::internal::CaptureStderr();
  EXPECT_EQ(backendRunLoop(directory, device.write_end), -1);
  std::string err = testing::internal::GetCapturedStderr();
  close(directory);
  EXPECT_NE(err.find("DEBUG: Read failed: Is a directory\nERROR: Unable to read print data.\n"),
            std::string::npos)
      << err;
}

// Puts a pipe on standard input for the duration of a test.
class StdinPipe {
 public:
  StdinPipe() : saved_(dup(0)) { dup2(pipe_.read_end, 0); }
  ~StdinPipe() {
    dup2(saved_, 0);
    close(saved_);
  }
  int writer() const { return pipe_.write_end; }
  void closeWriter() {
    close(pipe_.write_end);
    pipe_.write_end = -1;
  }

 private:
  Pipe pipe_;
  int saved_;
};

TEST(WaitLoop, ReturnsOneWhenDataOrEndOfDataArrives) {
  for (bool data : {true, false}) {
    StdinPipe in;
    std::thread later([&] {
      usleep(50 * 1000);
      if (data) {
        EXPECT_EQ(write(in.writer(), "x", 1), 1);
      } else {
        in.closeWriter();
      }
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(backendWaitLoop(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "DEBUG: backendWaitLoop(snmp_fd=-1, addr=(nil), side_cb=(nil))\n");
    later.join();
  }
}

void NoteSignal(int) {}

TEST(WaitLoop, SignalInterruptsTheWait) {
  struct sigaction action {};
  action.sa_handler = NoteSignal;  // no SA_RESTART: select must see EINTR
  sigaction(SIGUSR1, &action, nullptr);
  StdinPipe in;
  pthread_t waiter = pthread_self();
  std::thread interrupter([waiter] {
    usleep(50 * 1000);
    pthread_kill(waiter, SIGUSR1);
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(backendWaitLoop(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "DEBUG: backendWaitLoop(snmp_fd=-1, addr=(nil), side_cb=(nil))\n"
            "DEBUG: Received an interrupt before any bytes were written, aborting.\n");
  interrupter.join();
  signal(SIGUSR1, SIG_DFL);
}

TEST(CupsMessages, LinesHaveTheSchedulersForms) {
  testing::internal::CaptureStderr();
  errno = ENOENT;
  _cupsLangPrintError("ERROR", "Unable to open print file");
  _cupsLangPrintFilter(stderr, "INFO", "Print file sent.");
  _cupsLangPrintFilter(stderr, "ERROR", "Unable to read print data.");
  _cupsLangPrintf(stderr, "Usage: %s job-id user title copies options [file]", "vp");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR:Unable to open print file: No such file or directory\n"
            "INFO: Print file sent.\n"
            "ERROR: Unable to read print data.\n"
            "Usage: vp job-id user title copies options [file]\n");
}

}  // namespace

}  // namespace vp
