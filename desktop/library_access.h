#pragma once
// AgentAccess on the access library libveltris.so (one connection per process).
#include "desktop/agent_access.h"

namespace veltris::desktop {

class LibraryAccess : public AgentAccess {
 public:
  int32_t open(const char* computer) override;
  int32_t write(const char* request) override;
  int32_t read(void* record, int32_t size) override;
  int32_t save(const char* path) override;
  int32_t close() override;
};

}  // namespace veltris::desktop
