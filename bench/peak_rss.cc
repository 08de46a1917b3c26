// Runs a program and writes its peak resident memory in kB (wait4's figure: the program or the
// largest of its own children) to a file. A program spawned straight from the benchmark process
// would be charged that process's memory, since it starts as a copy of it until exec; this
// launcher is small, like /usr/bin/time.
//
//   vp_peak_rss RESULT-FILE PROGRAM [ARGUMENT...]
//
// The program keeps the launcher's standard streams and environment; the exit status is its own.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vp {}  // namespace vp

using namespace vp;

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: vp_peak_rss RESULT-FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  pid_t pid = fork();
  if (pid == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  if (pid < 0)
    return 127;
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR)
      return 127;
  }
  FILE* result = fopen(argv[1], "w");
  if (result == nullptr)
    return 127;
  fprintf(result, "%ld\n", usage.ru_maxrss);
  fclose(result);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
