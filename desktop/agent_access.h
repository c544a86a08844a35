#pragma once
// The console's one way to an agent: the five calls of the access library.
// LibraryAccess forwards them to libveltris; ScriptedAccess plays a script in
// tests. Calls may come from a worker thread, one at a time.
#include <cstdint>

namespace veltris::desktop {

class AgentAccess {
 public:
  virtual ~AgentAccess() = default;
  // computer: nullptr for this PC, a name or address, or "*SNAPSHOT* " + path.
  virtual int32_t open(const char* computer) = 0;
  virtual int32_t write(const char* request) = 0;
  virtual int32_t read(void* record, int32_t size) = 0;
  virtual int32_t save(const char* path) = 0;
  virtual int32_t close() = 0;
};

}  // namespace veltris::desktop
