#pragma once
// AgentAccess on the access library libveltris.so: LibraryAccess through its
// one connection per process, ConnectionAccess with a connection of its own
// (for a program that talks to the agent on two sessions at once).
#include "desktop/agent_access.h"
#include "platform/access/agent_connection.h"

namespace veltris::desktop {

class LibraryAccess : public AgentAccess {
 public:
  int32_t open(const char* computer) override;
  int32_t write(const char* request) override;
  int32_t read(void* record, int32_t size) override;
  int32_t save(const char* path) override;
  int32_t close() override;
};

class ConnectionAccess final : public AgentAccess {
 public:
  int32_t open(const char* computer) override { return connection_.open(computer); }
  int32_t write(const char* request) override { return connection_.write(request); }
  int32_t read(void* record, int32_t size) override { return connection_.read(record, size); }
  int32_t save(const char* path) override { return connection_.save(path); }
  int32_t close() override { return connection_.close(); }

 private:
  access::AgentConnection connection_;
};

}  // namespace veltris::desktop
