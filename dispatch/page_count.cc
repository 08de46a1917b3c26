#include "dispatch/page_count.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "util/job_log.h"
#include "util/paths.h"
#include "util/safe_file.h"

namespace vp {

namespace {

// Closes on every way out, so the child is always reaped; its exit status tells nothing the
// output does not.
struct PipeCloser {
  void operator()(FILE* pipe) const { pclose(pipe); }
};

}  // namespace

CommandOutput executeCommand(const std::string& command) {
  std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
  if (!pipe)
    return {};
  CommandOutput output{true, ""};
  char buffer[128];
  while (fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    for (const char* c = buffer; *c != '\0'; ++c) {
      if (*c != '\n')
        output.text += *c;
    }
  }
  return output;
}

void CountPdfPages(std::ostream& log, JobInfo& job, const std::string& dataPath) {
  // The program reads the file this process opened, through its descriptor: a link or a FIFO put
  // in the data file's place in the shared folder is neither followed nor waited on, and the name
  // cannot be swapped for another file once it is open.
  int data = OpenNoFollow(dataPath, O_RDONLY, 0);
  if (data < 0) {
    Log(log, "parser pagecount:");  // what the program says of a file it cannot read
    job.pages = "";
    return;
  }
  fcntl(data, F_SETFD, 0);  // the program inherits it
  std::string command = std::string(paths::kPageCountProgram) + " /dev/fd/" + std::to_string(data) +
                        " | grep '^Pages:' | awk '{print $2}'";
  const CommandOutput output = executeCommand(command);
  close(data);
  if (!output.started) {
    // The wording the job log has always had on this road.
    Log(log, "Caught exception: popen() failed!");
    return;
  }
  Log(log, "parser pagecount:" + output.text);
  job.pages = output.text;
}

}  // namespace vp
