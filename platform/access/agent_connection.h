#pragma once
// The one connection of the access library: binding, access key, and the last
// reply buffered for record-by-record reading.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/access/snapshot_agent.h"
#include "platform/rpc/client.h"

namespace veltris::access {

class AgentConnection {
 public:
  int32_t open(const char* computer);
  int32_t write(const char* request);
  int32_t read(void* record, int32_t size);
  int32_t save(const char* path);
  int32_t close();

 private:
  int32_t openBinding(const std::string& binding);
  int32_t openSnapshot(const std::string& path);
  void forgetReply();

  std::mutex mutex_;
  std::unique_ptr<rpc::Client> client_;
  std::unique_ptr<snapshot::SnapshotAgent> snapshot_;  // set while a snapshot file answers
  std::array<uint8_t, 16> key_{};
  std::vector<uint8_t> reply_;
  size_t cursor_ = 0;
};

// The binding strings tried for a computer name, in order; empty for a
// snapshot name ("*SNAPSHOT* " and a path).
std::vector<std::string> bindingsForComputer(const char* computer);

// How long a request may take: commands and snapshots run for minutes.
std::chrono::milliseconds requestTimeout(const std::string& request);

// The path of a snapshot name, or empty when `computer` does not name one.
std::string snapshotPath(const char* computer);

}  // namespace veltris::access
