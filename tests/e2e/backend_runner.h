#pragma once

#include <string>
#include <vector>

#include "tests/support/files.h"

namespace vp {

// Runs the sandboxed backend (the real program, its fixed paths inside the build tree) as the CUPS
// scheduler would: exact argv and environment, print data on standard input or in a file.
struct BackendCall {
  std::vector<std::string> args;  // argv[1...]; argv[0] is the program path unless argv0 is set
  std::string argv0;
  std::vector<std::string> env;  // the whole environment, in order
  std::string stdinData;         // written through a pipe, as the scheduler's filters do
  std::string stdinLater;        // written after a pause, so a first read gets only stdinData
  int timeoutSeconds = 60;
};

struct BackendRun {
  int status = -1;  // exit status, or -1 when killed by a signal or the time-out
  std::string out;
  std::string err;
};

BackendRun RunBackend(const BackendCall& call);

// The sandbox's directories and the program under test.
std::string SandboxDir();
std::string LogDir();  // with the trailing slash
std::string BackendPath();

// Empties the sandbox so a test starts from a system where the backend never ran.
void ResetSandbox();

// An environment like the scheduler's: 28 entries, then, when a model is given, the printer model
// at index 28 and one more entry.
std::vector<std::string> CupsEnvironment(const char* model, const std::string& path = "");

}  // namespace vp
