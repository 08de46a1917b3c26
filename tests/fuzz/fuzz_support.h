#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vp {

// A broken property is a finding: libFuzzer saves the input that led here.
inline void Require(bool holds, const char* property) {
  if (!holds) {
    fprintf(stderr, "property broken: %s\n", property);
    abort();
  }
}

// A file in memory that code under test opens by path, rewritten for every input; it keeps the
// fuzzer off the disk. It is a plain file on a tmpfs, not a memfd: the readers of job files do not
// follow the link that /proc/self/fd/N is.
class MemoryFile {
 public:
  MemoryFile()
      : path_("/dev/shm/vp-fuzz-" + std::to_string(getpid())),
        fd_(open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {}
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() {
    close(fd_);
    unlink(path_.c_str());
  }

  bool write(const std::string& bytes) {
    if (ftruncate(fd_, 0) != 0)
      return false;
    return pwrite(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_;
};

// Job log lines without their "YYYY-MM-DD HH:MM:SS " stamps.
inline std::string Unstamped(const std::string& log) {
  std::string lines;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos)
      end = log.size();
    size_t text = start + 20 < end ? start + 20 : end;
    lines.append(log, text, end - text);
    lines += '\n';
    start = end + 1;
  }
  return lines;
}

}  // namespace vp
