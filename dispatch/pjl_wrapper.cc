#include "dispatch/pjl_wrapper.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <vector>

#include "util/device_write.h"
#include "util/job_files.h"
#include "util/job_log.h"
#include "util/platform.h"
#include "util/safe_file.h"
#include "util/safe_text.h"

namespace vp {

namespace {

constexpr char kJobStart[] = "\x1b%-12345X@PJL JOB NAME=";
constexpr char kCopies[] = "\n@PJL SET QTY=";
constexpr char kBinding[] = "\n@PJL SET BINDING=";
constexpr char kDuplex[] = "\n@PJL SET DUPLEX=";
constexpr char kEnterPdf[] = "\n@PJL ENTER LANGUAGE=PDF\n";
// The receiving side expects exactly these bytes: no ESC before the second UEL, no final LF.
constexpr char kTrailer[] = "\x1b%-12345X@PJL EOJ+\n%-12345X";

// Print data may be hundreds of megabytes; it is copied through a buffer of this size, which
// copies as fast as larger ones while keeping the backend's peak memory small.
constexpr size_t kCopyBlock = 128 << 10;

// The report on standard output, and the failure it tells of.
Outcome Say(const std::string& line, Failure failure = Failure::kEnvelopeIncomplete) {
  std::cout << line << std::endl;
  if (failure == Failure::kNone)
    return {};
  return {failure, line};
}

bool CopyAll(int from, int to) {
  std::vector<char> block(kCopyBlock);
  for (;;) {
    ssize_t n = read(from, block.data(), block.size());
    if (n == 0)
      return true;
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 || !WriteToDevice(to, block.data(), static_cast<size_t>(n)))
      return false;
  }
}

// Puts the temporary file in the data file's place in one step. Where the system can swap two
// names, the swap and the removal of the old data under the temporary name spare the file system
// the early write-back it starts when a rename replaces a file (half the time of the wrap on
// ext4); elsewhere a plain rename.
bool ReplaceWithTemporary(const std::string& temporary, const std::string& path) {
  if (ExchangeNames(temporary.c_str(), path.c_str())) {
    unlink(temporary.c_str());
    return true;
  }
  return rename(temporary.c_str(), path.c_str()) == 0;
}

// A title holding a line end (or a UEL's ESC) would add commands of its own to the envelope.
std::string PjlHeader(const std::string& title, const JobInfo& job) {
  bool twoSided = job.duplex != "OneSided";
  std::string header = kJobStart + OnOneLine(title) + kCopies + job.copies;
  if (twoSided)
    header += kBinding + job.binding;
  return header + kDuplex + (twoSided ? "ON" : "OFF") + kEnterPdf;
}

}  // namespace

Outcome AddContentToBeginning(const std::string& path, const std::string& content) {
  int data = OpenNoFollow(path, O_RDWR, 0);
  if (data < 0) {
    return Say("Failed to open file: " + path);
  }
  std::string temporary = JobFiles::TemporaryPath(path);
  // A stale temporary file is reused once the file policy has made sure it is ours.
  int out = OpenNoFollow(temporary, O_WRONLY | O_CREAT | O_TRUNC, JobFiles::kDataMode);
  if (out < 0) {
    close(data);
    return Say("Failed to create temporary file.");
  }
  bool written = WriteToDevice(out, content.data(), content.size()) && CopyAll(data, out);
  close(data);
  written = close(out) == 0 && written;
  // A short copy must not take the place of the data.
  if (!written) {
    unlink(temporary.c_str());
    return Say("Failed to write temporary file, file left unchanged: " + path);
  }
  if (!ReplaceWithTemporary(temporary, path)) {
    unlink(temporary.c_str());
    return Say("Failed to replace file, file left unchanged: " + path);
  }
  return Say("Content added to the beginning of the file.", Failure::kNone);
}

Outcome AddContentToEnd(const std::string& path, const std::string& content) {
  int fd = OpenNoFollow(path, O_WRONLY | O_APPEND | O_CREAT, JobFiles::kDataMode);
  if (fd < 0) {
    return Say("Failed to open file: " + path);
  }
  off_t size = lseek(fd, 0, SEEK_END);
  if (!WriteToDevice(fd, content.data(), content.size())) {
    bool restored = size >= 0 && ftruncate(fd, size) == 0;
    close(fd);
    return Say(restored ? "Failed to write file, file left unchanged: " + path
                        : "Failed to write file, file left partly written: " + path);
  }
  close(fd);
  return Say("Content added to the end of the file.", Failure::kNone);
}

Outcome WrapPdfInPjl(std::ostream& log, const std::string& dataPath, const JobInfo& job) {
  Log(log, "Processing pdf");
  // A header without its trailer, or a trailer without its header, is no envelope a printer
  // reads: the trailer comes only after the header, and the caller sends neither half alone.
  Outcome header = AddContentToBeginning(dataPath, PjlHeader(job.documentName, job));
  if (!header.ok()) {
    Log(log, "PJL envelope not added: the data file could not be rewritten");
    return header;
  }
  Outcome trailer = AddContentToEnd(dataPath, kTrailer);
  if (!trailer.ok())
    Log(log, "PJL envelope incomplete: its trailer could not be written");
  return trailer;
}

}  // namespace vp
