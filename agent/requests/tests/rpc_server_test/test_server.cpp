// A stand-in agent for third-party RPC clients: the real ServerRPC thread with
// the fake request handler. Prints "LISTENING epm=<port>" and one "BINDING" line
// per endpoint once it serves; ends when standard input closes.
#include <cstdio>
#include <iostream>

#include "agent/requests/rpc_server.h"
#include "agent/requests/tests/rpc_server_test/fake_agent.h"

int main() {
  veltris::agent::RpcServerThread server;
  server.start(veltris::agent::testing::fakeAgentHooks());
  if (!server.waitUntilListening(std::chrono::seconds(10))) {
    std::fprintf(stderr, "test server: RPC server did not start\n");
    return 1;
  }
  std::printf("LISTENING epm=%u\n", server.endpointMapperPort());
  for (const std::string& binding : server.bindings()) std::printf("BINDING %s\n", binding.c_str());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  server.stop();
  return 0;
}
