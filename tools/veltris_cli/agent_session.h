#pragma once
// One connection to an agent through the access library: open, present the
// access key with "OPEN ", exchange requests, close. Failures come back with
// the client's exit code and a message for people.
#include <string>

#include "tools/veltris_cli/reply.h"

namespace veltris::cli {

// Exit codes of the client.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // connection or request failed
constexpr int kExitUsage = 2;       // bad command line, no access key
constexpr int kExitKeyRefused = 3;  // "Security check FAILED"
constexpr int kExitBadReply = 4;    // reply header or records malformed
constexpr int kExitUnknownWord = 5; // the agent does not know the request word

// The computer name that opens a snapshot file through the access library.
constexpr char kSnapshotComputerPrefix[] = "*SNAPSHOT* ";

struct SessionError {
  int exitCode = kExitOk;
  std::string message;
};

// The access library keeps one connection per process, so there is one session at a time.
class AgentSession {
 public:
  AgentSession() = default;
  ~AgentSession() { close(); }
  AgentSession(const AgentSession&) = delete;
  AgentSession& operator=(const AgentSession&) = delete;

  // `computer`: empty for this PC, else a name, an address, "host[port]" or a binding string.
  bool open(const std::string& computer, const std::string& key, SessionError& error);
  // Sends the request and reads its whole reply.
  bool exchange(const std::string& request, Reply& reply, SessionError& error);
  // Writes the snapshot that the last reply carried to `path`.
  bool saveSnapshot(const std::string& path, SessionError& error);
  void close();

 private:
  bool open_ = false;
};

// Words for an RPC status the library returned, empty when it has none.
std::string rpcStatusText(int32_t status);

}  // namespace veltris::cli
