// Prints the TapsorSv unit for a program path: the text that "TapsorSv -install"
// writes, so the packaged unit and the installed one never differ.
#include <cstdio>
#include <cstring>

#include "common/agent_service.h"
#include "platform/service/service_manager.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(argc == 2 ? stdout : stderr, "usage: %s PROGRAM-PATH\nprints the TapsorSv unit that runs PROGRAM-PATH\n", argv[0]);
    return argc == 2 ? 0 : 2;
  }
  using namespace veltris;
  const service::ServiceConfig config{kServiceName, kDisplayName, argv[1],
                                      {kServiceDependencies.begin(), kServiceDependencies.end()}};
  std::fputs(veltris::service::SystemdManager::unitText(config).c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
