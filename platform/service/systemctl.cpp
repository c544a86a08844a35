#include "platform/service/systemctl.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace veltris::service {

CommandResult runSystemctl(const std::vector<std::string>& args) {
  CommandResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;

  std::vector<std::string> argvText{"systemctl"};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  // Standard error goes to a memory file, read once systemctl has ended.
  const int errorFd = ::memfd_create("systemctl-stderr", MFD_CLOEXEC);
  if (errorFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, "systemctl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    if (errorFd >= 0) ::close(errorFd);
    return result;
  }
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0 && result.output.size() < 65536) result.output.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (errorFd >= 0) {
    while ((n = ::pread(errorFd, buffer, sizeof buffer, static_cast<off_t>(result.errors.size()))) > 0 &&
           result.errors.size() < 65536)
      result.errors.append(buffer, static_cast<size_t>(n));
    ::close(errorFd);
  }
  return result;
}

}  // namespace veltris::service
