// virtual-printer: a CUPS backend whose device is a spool directory. It copies each job into a
// data file, works out the job's attributes and hands the job to a print-management server.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <cups/backend.h>
#include <cups/cups.h>

#include "attributes/job_info.h"
#include "backend/control_file.h"
#include "backend/driver_model.h"
#include "backend/job_input.h"
#include "backend/pdf_job.h"
#include "backend/run_end.h"
#include "backend/run_loop.h"
#include "backend/spool.h"
#include "config/device_options.h"
#include "dispatch/parser_selection.h"
#include "dispatch/pjl_wrapper.h"
#include "submit/submission.h"
#include "util/cups_private.h"
#include "util/job_log.h"
#include "util/paths.h"
#include "util/safe_file.h"
#include "util/safe_text.h"

namespace vp {

namespace {

constexpr char kDiscoveryLine[] =
    "file virtual-printer:/ \"Unknown\"  \"Virtual Printer\" \"Virtual Printer\" \n";

void LogArguments(std::ostream& log, char* argv[]) {
  LogPlain(log, std::string("Device:") + argv[0]);
  LogPlain(log, std::string("JobID:") + argv[1]);
  LogPlain(log, std::string("User:") + argv[2]);
  LogPlain(log, std::string("JobName:") + argv[3]);
  LogPlain(log, std::string("Copies:") + argv[4]);
  LogPlain(log, std::string("Options:") + argv[5]);
  LogPlain(log, std::string("Server:") + cupsServer());
}

}  // namespace

}  // namespace vp

using namespace vp;

int main(int argc, char* argv[], char* envp[]) {
  setbuf(stderr, nullptr);
  IgnoreSignal(SIGPIPE);

  if (argc == 1) {
    fputs(kDiscoveryLine, stdout);
    return 0;
  }
  if (argc != 6 && argc != 7) {
    _cupsLangPrintf(stderr, "Usage: %s job-id user title copies options [file]",
                    OnOneLine(argv[0]).c_str());
    return 1;
  }

  int print_fd = 0;
  if (argc == 7) {
    print_fd = open(argv[6], O_RDONLY | O_CLOEXEC);
    if (print_fd < 0) {
      _cupsLangPrintError("ERROR", "Unable to open print file");
      return 1;
    }
  }

  umask(0);
  const JobFiles files = FixedJobFiles();
  SafeOutFile log;
  if (!OpenJobLog(files, log))
    return 1;
  LogArguments(log, argv);
  JobInput input;
  input.device = ReadDeviceOptions(log, ReadDeviceUri(log, argv));
  const DeviceOptions& device = input.device;
  const QueueStatus queueStatus{device.statusLines, argv[4], argc == 7};
  input.title = argv[3];
  input.copies = atoi(argv[4]);
  input.options = ReadJobOptions(argv[5]);
  const OptionsMap& options = input.options.map;
  if (argc == 7)
    LogPlain(log, std::string("PrintDataFile:") + argv[6]);

  const SpoolResult spool = SpoolPrintData(log, files, print_fd, options, queueStatus);
  if (!spool.outcome.ok() && spool.outcome.failure != Failure::kDataIncomplete)
    return EndRun(queueStatus, spool.outcome);
  const std::string dataPath = files.Path(spool.dataFileName);
  const bool isPdf = spool.extension == ".pdf";

  input.driver = ReadDriver(log, envp);
  const JobInput& in = input;
  const DriverInput& driver = in.driver;
  SafeOutFile control;
  const Outcome controlFile = OpenControlFile(log, files, control, spool.jobUuid);

  JobInfo job =
      SelectParser(log, spool.extension, dataPath, driver.model, in.title, in.copies, driver.ppd);
  if (isPdf)
    SettlePdfJob(log, job, in, dataPath);
  if (controlFile.ok())
    WriteControlFile(log, control, job, spool.dataFileName, options, driver.model, driver.ppd);
  Log(log, "tbytes", std::to_string(spool.copiedBytes));
  if (!spool.outcome.ok()) {
    Log(log, "print data incomplete, job not submitted");
    return EndRun(queueStatus, spool.outcome);
  }
  const Outcome wrapped = isPdf ? WrapPdfInPjl(log, dataPath, job) : Outcome{};
  if (!wrapped.ok()) {
    Log(log, "PJL envelope incomplete, job not submitted");
    return EndRun(queueStatus, wrapped);
  }

  const Outcome sent = SubmitJob(log, files, FixedSettingsFiles(), job, spool.dataFileName,
                                 queueStatus, std::chrono::seconds(device.waitSeconds));
  const int exitStatus = EndRun(queueStatus, sent, job);
  TellNotifier(log, sent, spool.jobUuid);
  return exitStatus;
}
