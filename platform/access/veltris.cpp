// The exported C functions; every call goes to the library's one connection.
#include "platform/access/veltris.h"

#include "platform/access/agent_connection.h"

namespace {

veltris::access::AgentConnection& connection() {
  static veltris::access::AgentConnection theConnection;
  return theConnection;
}

// No C++ exception may reach a C caller.
template <typename Call>
int32_t guarded(Call call) {
  try {
    return call();
  } catch (...) {
    return -1;
  }
}

}  // namespace

extern "C" {

int32_t TapsorRpcOpen(const char* computer) {
  return guarded([&] { return connection().open(computer); });
}

int32_t TapsorRpcWrite(const char* request) {
  return guarded([&] { return connection().write(request); });
}

int32_t TapsorRpcRead(void* record, int32_t size) {
  return guarded([&] { return connection().read(record, size); });
}

int32_t TapsorRpcSave(const char* path) {
  return guarded([&] { return connection().save(path); });
}

int32_t TapsorRpcClose(void) {
  return guarded([&] { return connection().close(); });
}

}  // extern "C"
