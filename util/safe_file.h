#pragma once

#include <sys/types.h>

#include <ostream>
#include <streambuf>
#include <string>

namespace vp {

// The log directory is world-writable, so a local user could plant a symbolic link where the
// backend (running as root) is about to write. Every file there is opened through these.

// open(2) that never follows a symbolic link in the last component and never leaks into children.
// Only a plain file is opened, without waiting; one opened for writing must have no other name
// (no hard link). O_TRUNC empties the file only once it has passed these checks, and only when it
// holds something (truncating a new file would make ext4 flush it early at close). Anything else
// fails with errno ELOOP, ENXIO, EINVAL or EMLINK. The descriptor blocks unless O_NONBLOCK is
// given.
int OpenNoFollow(const std::string& path, int flags, mode_t mode);

// write(2) until every byte is written, retrying after a signal; false on any other failure.
bool WriteAll(int fd, const char* data, size_t size);

// Output buffer over a descriptor; flushing writes through with write(2).
class FdOutBuf : public std::streambuf {
 public:
  FdOutBuf() = default;
  FdOutBuf(const FdOutBuf&) = delete;
  FdOutBuf& operator=(const FdOutBuf&) = delete;
  ~FdOutBuf() override;

  void attach(int fd) { fd_ = fd; }
  int fd() const { return fd_; }
  bool close();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  int fd_ = -1;
  char buffer_[4096];
  size_t used_ = 0;
};

// A text output file (job log, control file) opened for writing with truncation, mode as given,
// without following symbolic links.
class SafeOutFile : public std::ostream {
 public:
  SafeOutFile() : std::ostream(&buf_) { setstate(std::ios::badbit); }
  bool open(const std::string& path, mode_t mode);
  bool is_open() const { return buf_.fd() >= 0; }
  void close();

 private:
  FdOutBuf buf_;
};

}  // namespace vp
