#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/files.h"

namespace vp {

// A private CUPS scheduler with the backend installed as a user's machine would have it, plus the
// local print-management server and notifier, all inside the test's own namespaces: a private
// loopback (the notifier's fixed port cannot collide), a private process tree (everything dies
// with the test) and tmpfs over every folder the scheduler and the backend write.

struct World {
  // Set before StartWorld to leave the defaults: the ServerRoot (default tests/cups/world in the
  // build tree), the scheduler's LogLevel, and whether the print server also plays the notifier.
  std::string root;  // the scheduler's ServerRoot, on a tmpfs
  std::string logLevel = "debug";
  bool notifier = true;
  // Shell words that every program the scheduler starts (filters, backends) is run through, before
  // CUPS's cups-exec and its arguments; empty: cups-exec alone, as CUPS has it.
  std::string cupsExecPrefix;
  std::string socket;     // clients follow CUPS_SERVER to it
  std::string serverBin;  // ServerBin: backend/, filter/ (first on the backend's PATH), daemon/
  std::string store;      // the print server's storage
  std::string logDir;     // the backend's fixed log folder, with the trailing slash
  std::string settings;   // the backend's fixed client settings file
  pid_t cupsd = -1;
  pid_t printServer = -1;
  int serverPort = -1;
};

struct CommandResult {
  int status = -1;     // exit status, or -1 when it could not run or died of a signal
  std::string output;  // standard output and standard error together
};

// Re-runs this program as PID 1 of new mount, network and process namespaces (needs root).
// Returns only when that cannot be done.
int RunIsolated(char* argv[]);

// Mounts the folders, installs the backend, its filter and plutil, and starts the print server
// (a user "alice" with password "s3cret") and the scheduler. `backend` is the program installed as
// ServerBin/backend/virtual-printer. With `systemFilters`, CUPS's installed filters (pdftops,
// pstops, foomatic-rip, hplip's hpps...) are there too, for queues with real vendor drivers.
// Empty on success, else what went wrong.
std::string StartWorld(World& world, const std::string& backend, bool systemFilters = false);
void StopWorld(World& world);

CommandResult RunCommand(const std::vector<std::string>& argv);

// lpadmin with a PPD file (empty: a raw queue). Empty on success, else lpadmin's words.
std::string AddQueue(const World& world, const std::string& name, const std::string& ppd,
                     const std::string& deviceUri = "virtual-printer:/");

// Submits the file with lp; the job id, or -1 (with lp's words in `error`).
int SubmitJob(const std::string& queue, const std::string& file,
              const std::vector<std::string>& lpArguments, std::string& error);

struct JobOutcome {
  int state = 0;  // IPP job-state: 4 held, 7 canceled, 8 aborted, 9 completed; 0 unknown
  std::vector<std::string> reasons;  // job-state-reasons
  bool queueStopped = false;
  std::string jobMessage;                 // job-printer-state-message
  std::string queueMessage;               // printer-state-message
  std::vector<std::string> queueReasons;  // printer-state-reasons
  int impressions = 0;                    // job-impressions-completed
};

// The job and its queue as the scheduler sees them now.
JobOutcome AskJob(const std::string& queue, int id);

// Waits until the scheduler is done with the job: it ended, is held, or waits on a stopped queue.
// The outcome so far when the time runs out.
JobOutcome WaitForJob(const std::string& queue, int id, int timeoutSeconds = 60);

bool HasReason(const JobOutcome& outcome, const std::string& reason);

// The scheduler's error_log lines of one job, for failure reports.
std::string SchedulerLogOf(const World& world, int id);

// The print server's job folder holding an upload of that file name, or empty.
std::string StoredUpload(const World& world, const std::string& fileName);
// Notifier messages the print server accepted, one JSON text per line.
std::vector<std::string> Notifications(const World& world);
// A loopback port that nothing listens on.
int UnusedPort();

}  // namespace vp
