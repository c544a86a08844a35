// Random 256-byte requests (and keys) through the request handler, against an
// agent state with traffic in it. Words that start processes or stop the agent
// are left out; everything else, history day names included, is parsed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "agent/core/runtime.h"
#include "agent/requests/request_handler.h"

namespace {

using namespace veltris::agent;

AgentRuntime& runtime() {
  static AgentRuntime* rt = [] {
    auto* r = new AgentRuntime;
    r->shutdown = [] {};
    r->global.adapterCount = 1;
    r->global.nics[0] = std::make_unique<NicArea>();
    std::memcpy(r->global.accessKey, "FUZZKEY", 7);
    return r;
  }();
  return *rt;
}

RequestHandler& handler() {
  static RequestHandler* h = [] {
    RequestHandlerOptions options;
    options.securityLog = [](const std::string&) {};
    options.throttle.maxFailures = 1u << 30;  // wrong keys must not lock the fuzzer out
    options.reloadAccessParameters = [](GlobalArea&) {};
    return new RequestHandler(runtime(), options);
  }();
  return *h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t request[256] = {};
  std::memcpy(request, data, size < sizeof request ? size : sizeof request);
  if (std::memcmp(request, "CMD ", 4) == 0 || std::memcmp(request, "SNAPSHOT", 8) == 0) return 0;
  uint8_t key[16] = {};
  std::memcpy(key, runtime().global.accessKey, sizeof key);
  if (size > 256 && (data[256] & 1) != 0) key[0] ^= 1;  // now and then a wrong key
  std::vector<uint8_t> reply;
  bool nullReply = false;
  handler().handle(key, request, reply, nullReply, "fuzz");
  return 0;
}
