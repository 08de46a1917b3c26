#include "util/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vp {

namespace {

// Why the file may not be used, as an errno value, or 0. It must be a plain file, and when it is to
// be written, one with no second name: writing a hard link that a local user planted would change
// the file it also names.
int Refusal(const struct stat& info, int flags) {
  if (!S_ISREG(info.st_mode))
    return EINVAL;
  if ((flags & O_ACCMODE) != O_RDONLY && info.st_nlink != 1)
    return EMLINK;
  return 0;
}

}  // namespace

int OpenNoFollow(const std::string& path, int flags, mode_t mode) {
  // Nothing blocks and nothing is truncated until the file is known to be a plain one of ours: a
  // FIFO planted in the shared folder would hold the job forever.
  int fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
  if (fd < 0)
    return -1;
  struct stat info {};
  int refusal = fstat(fd, &info) != 0 ? errno : Refusal(info, flags);
  if (refusal == 0 && (flags & O_TRUNC) != 0 && info.st_size > 0 && ftruncate(fd, 0) != 0)
    refusal = errno;
  if (refusal != 0) {
    ::close(fd);
    errno = refusal;
    return -1;
  }
  if ((flags & O_NONBLOCK) == 0)
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

FdOutBuf::~FdOutBuf() {
  close();
}

bool FdOutBuf::close() {
  if (fd_ < 0)
    return true;
  bool ok = sync() == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  return ok;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

FdOutBuf::int_type FdOutBuf::overflow(int_type c) {
  if (fd_ < 0)
    return traits_type::eof();
  if (used_ == sizeof buffer_ && sync() != 0)
    return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof()))
    buffer_[used_++] = traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize FdOutBuf::xsputn(const char* s, std::streamsize n) {
  if (fd_ < 0)
    return 0;
  size_t size = static_cast<size_t>(n);
  if (used_ + size <= sizeof buffer_) {
    memcpy(buffer_ + used_, s, size);
    used_ += size;
    return n;
  }
  if (sync() != 0 || !WriteAll(fd_, s, size))
    return 0;
  return n;
}

int FdOutBuf::sync() {
  if (fd_ < 0)
    return -1;
  bool ok = WriteAll(fd_, buffer_, used_);
  used_ = 0;
  return ok ? 0 : -1;
}

bool SafeOutFile::open(const std::string& path, mode_t mode) {
  close();
  int fd = OpenNoFollow(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0)
    return false;
  buf_.attach(fd);
  clear();
  return true;
}

void SafeOutFile::close() {
  buf_.close();
  setstate(std::ios::badbit);
}

}  // namespace vp
