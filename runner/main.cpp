// TapsorCC: runs the command given as its arguments with the standard handles
// it was given, ends it after 20 seconds, and says so in the same output. The
// agent passes the Linux program and its arguments (already translated from
// the Windows command word); the notes quote that command line.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "runner/command_line.h"
#include "runner/time_limited_run.h"

int main(int argc, char** argv) {
  using namespace veltris::runner;
  // Alone, these are questions to TapsorCC itself: no program has such a name.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("TapsorCC (VELTRIS command runner) version 19990415\n");
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf("Usage: TapsorCC PROGRAM [ARGUMENT...]\n"
                "Runs PROGRAM with the standard handles TapsorCC was given and ends it (and its\n"
                "children) after 20 seconds, with a note in the same output. The VELTRIS agent\n"
                "starts it for diagnostic commands. Exit status: always 0.\n");
    return 0;
  }
  ::signal(SIGCHLD, SIG_DFL);  // an inherited "ignore" would reap the command behind our back
  const std::string commandLine = buildCommandLine(argc, argv);
  switch (runWithTimeLimit(splitCommandLine(commandLine), std::chrono::seconds(20))) {
    case RunOutcome::NotStarted:
      std::printf("NOTE: CreateProcess FAILED for '%s'\n", commandLine.c_str());
      break;
    case RunOutcome::TimedOut:
      std::printf("\nNOTE: Command '%s' was terminated since it did not complete within 20 seconds\n",
                  commandLine.c_str());
      break;
    case RunOutcome::Completed:
      break;
  }
  std::fflush(stdout);
  return 0;  // callers give the exit status no meaning
}
