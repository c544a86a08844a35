// TapsorCC: runs the command given as its arguments with the standard handles
// it was given, ends it after 20 seconds, and says so in the same output. The
// agent passes the Linux program and its arguments (already translated from
// the Windows command word); the notes quote that command line.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/version.h"
#include "runner/command_line.h"
#include "runner/program_packages.h"
#include "runner/time_limited_run.h"

int main(int argc, char** argv) {
  using namespace veltris::runner;
  // Alone, these are questions to TapsorCC itself: no program has such a name.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("TapsorCC (VELTRIS command runner) version %s\n", veltris::kProgramVersion);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf("Usage: TapsorCC PROGRAM [ARGUMENT...]\n"
                "       TapsorCC --help | --version\n"
                "Runs PROGRAM with the standard handles TapsorCC was given and ends it (and its\n"
                "children) after 20 seconds, with a note in the same output. The VELTRIS agent\n"
                "starts it for diagnostic commands.\n"
                "Exit status: always 0.\n");
    return 0;
  }
  ::signal(SIGCHLD, SIG_DFL);  // an inherited "ignore" would reap the command behind our back
  const std::string commandLine = buildCommandLine(argc, argv);
  const std::vector<std::string> words = splitCommandLine(commandLine);
  switch (runWithTimeLimit(words, std::chrono::seconds(20))) {
    case RunOutcome::NotStarted: {
      std::printf("NOTE: CreateProcess FAILED for '%s'\n", commandLine.c_str());
      const char* path = std::getenv("PATH");
      if (!words.empty())
        std::fputs(missingProgramNote(words.front(), path ? path : "/usr/bin:/bin").c_str(), stdout);
      break;
    }
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
