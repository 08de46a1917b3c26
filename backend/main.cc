// virtual-printer: a CUPS backend whose device is a spool directory. It copies each job into a
// data file, works out the job's attributes and hands the job to a print-management server.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <cups/cups.h>

#include "attributes/job_info.h"
#include "attributes/print_settings.h"
#include "backend/control_file.h"
#include "backend/cups_private.h"
#include "backend/job_log.h"
#include "backend/run_loop.h"
#include "backend/safe_file.h"
#include "backend/spool.h"
#include "dispatch/job_summary.h"
#include "dispatch/parser_selection.h"
#include "dispatch/pjl_wrapper.h"
#include "submit/submission.h"

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

int main(int argc, char* argv[], char* envp[]) {
  setbuf(stderr, nullptr);
  IgnoreSignal(SIGPIPE);

  if (argc == 1) {
    fputs(kDiscoveryLine, stdout);
    return 0;
  }
  if (argc != 6 && argc != 7) {
    _cupsLangPrintf(stderr, "Usage: %s job-id user title copies options [file]", argv[0]);
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
  SafeOutFile log;
  if (!OpenJobLog(log))
    return 1;
  LogArguments(log, argv);
  const std::string title = argv[3];
  const std::string optionsText = argv[5];
  OptionsMap options = GetKeyValue(argv[5]);
  if (argc == 7)
    LogPlain(log, std::string("PrintDataFile:") + argv[6]);

  SpoolResult spool = SpoolPrintData(log, print_fd, options);
  if (spool.exitStatus >= 0)
    return spool.exitStatus;
  const std::string dataFileName = spool.jobUuid + spool.extension;
  const std::string dataPath = DataFilePath(spool.jobUuid, spool.extension);
  const bool isPdf = spool.extension == ".pdf";

  std::string driverModel = ReadDriverModel(log, envp);
  SafeOutFile control;
  OpenControlFile(log, control, spool.jobUuid);

  std::vector<OptionPair> settings;
  JobInfo job = SelectParser(log, spool.extension, dataPath, driverModel, title, atoi(argv[4]),
                             optionsText, settings);
  if (isPdf) {
    ApplyPrintSettings(job, settings);
    CountPdfPages(log, job, dataPath);
  }
  WriteJobSummary(log, control, job, dataFileName, title, options, driverModel);
  Log(log, "tbytes", std::to_string(spool.copiedBytes));
  if (isPdf)
    WrapPdfInPjl(log, dataPath, title, job);

  return SubmitJob(log, job, spool.jobUuid, dataFileName);
}
